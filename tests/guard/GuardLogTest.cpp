// What the guard tells systemd and what it writes to its log.
#include "GuardFixture.h"

// Under systemd. The notify socket is the test's: READY=1 once nv4.ini is locked (looked at as the
// datagram arrives, while the guard may still be starting), pings from the event loop's own timer and
// none while that loop is blocked for three watchdog periods, STOPPING=1 at the shut-down. The log is
// the journal's stream: every line, Qt's messages of the guard's parts too, carries its priority.
TEST_F(GuardTest, UnderSystemdReadyFollowsTheSettingsLockPingsComeFromTheEventLoopLinesHavePriorities) {
    const QByteArray path = QFile::encodeName(dir.filePath(u"notify"_s));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const timeval wait{WaitMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const auto heard = [fd](int flags) {
        char datagram[64];
        const ssize_t n = ::recv(fd, datagram, sizeof datagram, flags);
        return n > 0 ? QByteArray(datagram, n) : QByteArray();
    };
    const auto drain = [&] {
        QByteArrayList all;
        for (QByteArray one; !(one = heard(MSG_DONTWAIT)).isEmpty();)
            all << one;
        return all.join(' ');
    };
    struct stat log {};
    ASSERT_EQ(::fstat(logFd, &log), 0);
    qputenv("NOTIFY_SOCKET", path);
    qputenv("WATCHDOG_USEC", "300000"); // a ping every 100 ms
    qputenv("JOURNAL_STREAM", QByteArray::number(log.st_dev) + ':' + QByteArray::number(log.st_ino));
    GuardLog::Install(logFd);
    const auto unset = qScopeGuard([] {
        for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "JOURNAL_STREAM"})
            qunsetenv(name);
    });
    QByteArray first;
    bool lockedAtFirst = false;
    std::thread reader([&] {
        first = heard(0);
        lockedAtFirst = ::access(QFile::encodeName(ini).constData(), W_OK) != 0;
    });
    start(Banner + table("1011"));
    reader.join();
    EXPECT_EQ(first, "READY=1");
    EXPECT_TRUE(lockedAtFirst);
    EXPECT_TRUE(QTest::qWaitFor([&] { return drain().contains("WATCHDOG=1"); }, WaitMs));
    QByteArray duringBlock = "not run";
    QTimer::singleShot(0, [&] {
        drain();
        QThread::msleep(900);
        duringBlock = drain();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return duringBlock != "not run"; }, WaitMs));
    EXPECT_EQ(duringBlock, "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return drain().contains("WATCHDOG=1"); }, WaitMs));
    service->Shutdown();
    EXPECT_EQ(drain(), "STOPPING=1");
    ::close(fd);
    qCritical("failed");
    qWarning("reduced");
    GuardLog::Notice(u"refused\nby\u0085root"_s); // NEL ends a line for some readers
    qDebug("detail");
    // JOURNAL_STREAM that names another file: plain lines.
    qputenv("JOURNAL_STREAM", QByteArray::number(log.st_dev) + ":1");
    GuardLog::Install(logFd);
    qInfo("plain");
    // The init script's syslog takes the priorities too.
    qputenv("NORVALE_LOG_PREFIX", "priority");
    GuardLog::Install(logFd);
    qInfo("syslog");
    // logger would send what lies past 1 KiB as a message of its own: cut whole characters first.
    GuardLog::Notice(QString(2000, QChar(0xE8)));
    qunsetenv("NORVALE_LOG_PREFIX");
    const QStringList lines = QStringList{u"<5>\"Tampered\" lost its authorisation: its number changed"_s,
                                          u"<6>guarding %1/ (phonebook %2)"_s.arg(dir.path(), book)} +
                              split("<6>settings saved, files released;<3>failed;<4>reduced;<5>refused by?root;"
                                    "<7>detail;norvale-guard: plain;<6>syslog") +
                              QStringList{u"<5>"_s + QString(477, QChar(0xE8)) + u"..."_s, {}};
    EXPECT_EQ(logged(), lines);
}
