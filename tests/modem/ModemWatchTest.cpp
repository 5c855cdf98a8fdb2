// The modem closed to other users and given back, calls ended by DTR, and the programs allowed to
// hold it. The modem that appears while the guard runs and the holders of the line are the black-box
// tests' (tests/e2e/evasion.sh).

#include "TestApp.h"

#include "modem/AllowedPrograms.h"
#include "modem/CallEnder.h"
#include "modem/ModemDevices.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <fcntl.h>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a device to root and back takes root";
    QTemporaryDir dir;
    const QString device = dir.filePath("ttyS0"), link = dir.filePath("modem"), run = dir.filePath("run");
    const QByteArray node = QFile::encodeName(device);
    // A pty slave's device under a name of its own, where an ACL can be set.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct stat pty {};
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master) | ::stat(::ptsname(master), &pty), 0);
    // user::rw- user:65534:rw- group::r-- mask::rw- other::r--, in the kernel's xattr form.
    const QByteArray acl("\x02\0\0\0"
                         "\x01\0\x06\0\xff\xff\xff\xff"
                         "\x02\0\x06\0\xfe\xff\0\0"
                         "\x04\0\x04\0\xff\xff\xff\xff"
                         "\x10\0\x06\0\xff\xff\xff\xff"
                         "\x20\0\x04\0\xff\xff\xff\xff",
                         44);
    ASSERT_EQ(::mknod(node.constData(), S_IFCHR | 0600, pty.st_rdev), 0);
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
    ::close(master);
}

// Only a modem is closed: a file (one of root's in /etc too), another kind of device, or a modem
// behind a folder that others may change is left as it is, and the log says so once.
TEST(ModemDevices, CloseNothingButATtyReachedThroughRootsFolders) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "files in /etc and devices given to root take root";
    QTemporaryDir dir;
    QTemporaryFile etc("/etc/norvale-test-XXXXXX");
    ASSERT_TRUE(etc.open());
    const QString file = dir.filePath("file"), open = dir.filePath("open");
    writeBytes(file, "");
    ASSERT_TRUE(QDir().mkpath(open));
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    ASSERT_TRUE(QFile::link(::ptsname(master), open + "/modem"));
    const QStringList paths{etc.fileName(), file, "/dev/null", open + "/modem"};
    const QStringList why{etc.fileName() + " is no character device", file + " is no character device",
                          "/dev/null is a device of the mem subsystem, no serial line",
                          open + " can be written by others than its owner"};
    QList<Attributes> before;
    for (const QString& path : paths)
        before << attributesOf(path);
    Logged logged;
    ModemDevices devices(dir.filePath("record"));
    devices.close(paths);
    devices.close(paths);
    EXPECT_TRUE(devices.nodes().isEmpty());
    for (qsizetype i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(attributesOf(paths.at(i)), before.at(i)) << paths.at(i).toStdString();
        EXPECT_EQ(logged.mentions("dial-up: the modem " + paths.at(i) + " is left as it is: " + why.at(i)), 1);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("record")));
    ::close(master);
}

// allow= knows a program by its file: through every link (the system's /sbin, a link of its own), not
// a copy elsewhere, not another file mounted over the path; a new file renamed over it, as an upgrade
// does, is known again.
TEST(AllowedPrograms, KnowAProgramByItsFileWhateverThePath) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root-owned folders hold allowed programs";
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("usr/sbin")) && QDir().mkpath(dir.filePath("other")));
    ASSERT_TRUE(QFile::link("usr/sbin", dir.filePath("sbin")));
    const QString real = dir.filePath("usr/sbin/idle"), copy = dir.filePath("other/idle");
    ASSERT_TRUE(QFile::copy("/usr/bin/sleep", real) && QFile::copy("/usr/bin/sleep", copy));
    Logged logged;
    AllowedPrograms allowed({dir.filePath("sbin/idle"), "/sbin/agetty", dir.filePath("missing")});
    QSignalSpy changed(&allowed, &AllowedPrograms::identitiesChanged);
    const QList<ExecutableIdentity> identities = allowed.identities();
    ASSERT_EQ(identities.size(), 2);
    EXPECT_EQ(identities.at(0).path, QFileInfo(real).canonicalFilePath());
    struct stat agetty {};
    ASSERT_EQ(::stat("/usr/sbin/agetty", &agetty), 0);
    EXPECT_EQ(identities.at(1).path, "/usr/sbin/agetty");
    EXPECT_EQ(identities.at(1).file, (FileIdentity{agetty.st_dev, agetty.st_ino}));
    // This machine's root is ext4, where the kernel's device is stat's.
    EXPECT_EQ(identities.at(1).kernelDev, (major(agetty.st_dev) << 20) | minor(agetty.st_dev));
    EXPECT_EQ(logged.mentions("allow=" + dir.filePath("missing") + " does not exist"), 1);

    const auto runs = [&](const QString& program) {
        auto process = std::make_unique<QProcess>();
        process->start(program, {"60"});
        EXPECT_TRUE(process->waitForStarted(5000));
        return process;
    };
    const auto throughLink = runs(dir.filePath("sbin/idle"));
    EXPECT_TRUE(allowed.allows(pid_t(throughLink->processId())));
    EXPECT_FALSE(allowed.allows(pid_t(runs(copy)->processId())));
    ASSERT_EQ(::mount(QFile::encodeName(copy).constData(), QFile::encodeName(real).constData(), nullptr,
                      MS_BIND, nullptr),
              0);
    const auto mountedOver = runs(dir.filePath("sbin/idle"));
    ::umount2(QFile::encodeName(real).constData(), MNT_DETACH);
    EXPECT_FALSE(allowed.allows(pid_t(mountedOver->processId())));
    EXPECT_EQ(changed.count(), 0);

    ASSERT_TRUE(QFile::copy("/usr/bin/sleep", real + ".new"));
    ASSERT_EQ(::rename(QFile::encodeName(real + ".new").constData(), QFile::encodeName(real).constData()), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() > 0; }, 10000));
    EXPECT_TRUE(allowed.allows(pid_t(runs(real)->processId())));
    EXPECT_FALSE(allowed.allows(pid_t(throughLink->processId()))) << "the file it runs was replaced";

    // One event, one look, and then quiet: a look that touched its own watches would look again.
    QTest::qWait(100);
    const int looks = allowed.looks();
    ASSERT_TRUE(QFile(dir.filePath("usr/sbin/touched")).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QTest::qWaitFor([&] { return allowed.looks() > looks; }, 10000));
    for (int round = 0; round < 20; ++round)
        QCoreApplication::processEvents();
    EXPECT_EQ(allowed.looks(), looks + 1);
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
