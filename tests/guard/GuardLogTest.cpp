// What the guard tells systemd and what it writes to its log.
#include "GuardFixture.h"

#include <ctime>
#include <unistd.h>

// Under systemd. The notify socket is the test's: READY=1 once nv4.ini is locked (looked at as the
// datagram arrives, while the guard may still be starting), pings from the event loop's own timer and
// none while that loop is blocked for three watchdog periods, STOPPING=1 at the shut-down. The log is
// the journal's stream: every line, Qt's messages of the guard's parts too, carries its priority.
TEST_F(GuardTest, UnderSystemdReadyFollowsTheSettingsLockPingsComeFromTheEventLoopLinesHavePriorities) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the guard's locks take root";
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

// For a plain file where no syslog runs: the local time to the millisecond with its offset, the
// program and its pid, and what a warning or an error is; one message a line, cut at 960 bytes. Asked
// for through the environment, on the guard's own clock, is the package test's (tests/package/package-test.sh).
TEST(GuardLogTest, TheTimePrefixStartsALineWithTheLocalTimeThePidAndWhatTheLineIs) {
    const QByteArray zone = qgetenv("TZ");
    const auto restore = qScopeGuard([zone] {
        zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
        ::tzset();
    });
    const QByteArray pid = QByteArray::number(::getpid());
    const qint64 winter = 1796680279123; // 2026-12-07T21:51:19.123Z
    const qint64 summer = 1782900000007; // 2026-07-01T10:00:00.007Z
    const char* const rome = "CET-1CEST,M3.5.0,M10.5.0/3";
    using Priority = GuardLog::Priority;
    const struct {
        const char* zone;
        qint64 ms;
        Priority priority;
        QString text;
        const char* line;
    } rows[] = {
        {rome, winter, Priority::Warning, u"no kernel fence (no BPF)"_s,
         "2026-12-07T22:51:19.123+01:00 norvale-guard[@]: warning: no kernel fence (no BPF)"},
        {rome, summer, Priority::Error, u"cannot listen"_s,
         "2026-07-01T12:00:00.007+02:00 norvale-guard[@]: error: cannot listen"},
        {"UTC0", winter, Priority::Notice, u"refused\nby\u0085root"_s,
         "2026-12-07T21:51:19.123+00:00 norvale-guard[@]: refused by?root"},
        {"UTC0", winter, Priority::Notice, u"x\u2028y\u202Ez"_s, // would turn the rest around where read
         "2026-12-07T21:51:19.123+00:00 norvale-guard[@]: x y?z"},
        {"NST3:30", summer, Priority::Info, u" guarding "_s,
         "2026-07-01T06:30:00.007-03:30 norvale-guard[@]: guarding"},
        {"NST3:30", winter + 877, Priority::Debug, u"detail"_s,
         "2026-12-07T18:21:20.000-03:30 norvale-guard[@]: detail"},
    };
    for (const auto& row : rows) {
        qputenv("TZ", row.zone);
        ::tzset();
        EXPECT_EQ(GuardLog::Line(row.priority, row.text, GuardLog::Prefix::Time, row.ms),
                  QByteArray(row.line).replace('@', pid) + '\n');
    }
    const QByteArray prefix = "2026-12-07T18:21:19.123-03:30 norvale-guard[" + pid + "]: warning: ";
    EXPECT_EQ(GuardLog::Line(Priority::Warning, QString(2000, QChar(0xE8)), GuardLog::Prefix::Time, winter),
              prefix + QString((GuardLog::MaxLineBytes - 3 - prefix.size()) / 2, QChar(0xE8)).toUtf8() +
                  "...\n");
}

// A reader that stops (a logger whose syslog hangs) costs lines, never the guard: a full pipe takes
// no more, the shared description stays blocking for the guard's children, and the next line that
// gets through says how many were lost.
TEST(GuardLogTest, AReaderThatStopsCostsLinesAndTheNextLineSaysHowMany) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const auto restore = qScopeGuard([&] {
        GuardLog::Install(2);
        qInstallMessageHandler(nullptr);
        ::close(ends[0]);
        ::close(ends[1]);
    });
    GuardLog::Install(ends[1]);
    constexpr int Lines = 200; // 200 KB against the pipe's 64 KiB
    for (int i = 0; i < Lines; ++i)
        GuardLog::Notice(QString(1000, u'x'));
    EXPECT_EQ(::fcntl(ends[1], F_GETFL) & O_NONBLOCK, 0);
    ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    const auto drained = [&] {
        QByteArray all;
        char buffer[65536];
        for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            all.append(buffer, n);
        return all;
    };
    const int through = int(drained().count('\n'));
    EXPECT_GT(through, 0);
    EXPECT_LT(through, Lines);
    GuardLog::Notice(u"after"_s);
    EXPECT_EQ(drained(), u"norvale-guard: %1 lines of the log lost: its reader took no more\n"
                         u"norvale-guard: after\n"_s.arg(Lines - through).toUtf8());
}
