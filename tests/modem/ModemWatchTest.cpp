// The modem closed to other users and given back, and calls ended by DTR. The modem that appears
// while the guard runs and the holders of the line are the black-box tests' (tests/e2e/evasion.sh).

#include "TestApp.h"

#include "modem/CallEnder.h"
#include "modem/ModemDevices.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

struct Attributes {
    uid_t uid;
    gid_t gid;
    unsigned mode;
    QByteArray acl;
    bool operator==(const Attributes&) const = default;
};

Attributes attributesOf(const QString& path) {
    struct stat st {};
    char acl[256];
    const QByteArray name = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    ::stat(name.constData(), &st);
    const ssize_t n = ::getxattr(name.constData(), "system.posix_acl_access", acl, sizeof acl);
    return {st.st_uid, st.st_gid, st.st_mode & 07777u, n > 0 ? QByteArray(acl, n) : QByteArray()};
}

} // namespace

TEST(ModemDevices, ClosedGivenBackAndRestoredAfterACrash) {
    QTemporaryDir dir;
    const QString device = dir.filePath("ttyS0"), link = dir.filePath("modem"), run = dir.filePath("run");
    const QByteArray node = QFile::encodeName(device);
    // user::rw- user:65534:rw- group::r-- mask::rw- other::r--, in the kernel's xattr form.
    const QByteArray acl("\x02\0\0\0"
                         "\x01\0\x06\0\xff\xff\xff\xff"
                         "\x02\0\x06\0\xfe\xff\0\0"
                         "\x04\0\x04\0\xff\xff\xff\xff"
                         "\x10\0\x06\0\xff\xff\xff\xff"
                         "\x20\0\x04\0\xff\xff\xff\xff",
                         44);
    writeBytes(device, "");
    ASSERT_EQ(::chown(node.constData(), 65534, 30), 0);
    ASSERT_EQ(::chmod(node.constData(), 0664), 0);
    ASSERT_EQ(::setxattr(node.constData(), "system.posix_acl_access", acl.constData(), acl.size(), 0), 0)
        << std::strerror(errno);
    ASSERT_TRUE(QFile::link(device, link));
    QDir().mkpath(run);
    const Attributes original = attributesOf(device);
    for (const bool crash : {false, true}) {
        SCOPED_TRACE(crash ? "crash" : "shut-down");
        std::optional<ModemDevices> devices;
        if (crash) {
            // A run that ends without a word, the record left behind.
            const pid_t child = ::fork();
            if (child == 0) {
                ModemDevices left(run + "/record");
                left.close({link});
                ::_exit(0);
            }
            ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        } else {
            devices.emplace(run + "/record").close({link});
            EXPECT_EQ(devices->nodes().value(0).path, node);
        }
        EXPECT_EQ(attributesOf(device), (Attributes{0, 30, 0600, {}}));
        EXPECT_TRUE(QFileInfo::exists(run + "/record"));
        if (crash)
            ModemDevices(run + "/record").close({});
        devices.reset();
        EXPECT_EQ(attributesOf(device), original);
        EXPECT_FALSE(QFileInfo::exists(run + "/record"));
    }
}

// A pty has no DTR and a pid cannot be reused at will: the seam records the steps and can give back
// the start time of another process.
struct RecordingSeam final : LineSeam {
    QStringList& log;
    quint64 shift;
    RecordingSeam(QStringList& l, quint64 t) : log(l), shift(t) {}
    int openLine(const QByteArray& n) override { return log << "open " + n, ::open("/dev/null", O_RDWR); }
    bool flushOutput(int) override { return log << "flush", true; }
    bool dropDtr(int) override { return log << "dtr down", true; }
    void closeLine(int fd) override { log << "close", ::close(fd); }
    std::optional<quint64> startTime(pid_t pid) override { return LineSeam::startTime(pid).value() + shift; }
    bool signal(const Pidfd& p, int s) override {
        return log << "signal " + QString::number(s), p.sendSignal(s);
    }
};

TEST(CallEnder, DropsDtrAfterAFlushAndSignalsOnlyTheProcessItFound) {
    for (const quint64 shift : {0, 1}) {
        SCOPED_TRACE(shift ? "pid reused" : "same process");
        QProcess sleeper;
        sleeper.start("sleep", {"60"});
        ASSERT_TRUE(sleeper.waitForStarted(5000));
        const auto pid = static_cast<pid_t>(sleeper.processId());
        QStringList steps;
        {
            CallEnder ender(std::make_unique<RecordingSeam>(steps, shift));
            ender.end({ModemNode{"/dev/ttyS0"}}, {{pid, LineSeam().startTime(pid).value(), false}});
            ASSERT_TRUE(QTest::qWaitFor([&] { return steps.contains("close"); }, 5000));
        }
        EXPECT_EQ(steps.join(", "), shift ? "open /dev/ttyS0, flush, dtr down, close"
                                          : "open /dev/ttyS0, flush, dtr down, signal 9, close");
        EXPECT_EQ(Pidfd(pid).hasExited(), !shift);
        sleeper.kill();
        sleeper.waitForFinished(5000);
    }
}
