#include "SettingsFixture.h"

#include "platform/LockRecord.h"
#include "settings/FileLocks.h"

#include <QDir>
#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Global::state;

namespace {

// Bounded in time, so that a wrongly held open can never hang the test.
int run(const QStringList& command) {
    return QProcess::execute("timeout", QStringList{"10"} + command);
}

// statx reads the flag without opening the file, which a held lock would deny.
bool isImmutable(const QString& path) {
    struct statx info {};
    return statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_BASIC_STATS, &info) == 0 &&
           (info.stx_attributes & STATX_ATTR_IMMUTABLE);
}

} // namespace

class FileLocks : public SettingsFixture {
protected:
    void SetUp() override {
        SettingsFixture::SetUp();
        phonebook = path("wvdial.conf");
        writeBytes(phonebook, "[Dialer Casa]\nPhone = 0212345678\nPassword = secret\n");
        ::chmod(QFile::encodeName(phonebook).constData(), 0640);
    }

    bool fullProtection() {
        // A probe lock tells whether this machine grants the privileged protection.
        FileLock probe = state.Guard->lock(phonebook);
        return state.Guard->fullProtection();
    }

    QString phonebook;
};

// With the fanotify listener or, reduced, a flock: no other program gets at a locked file, which
// is write-protected and then gets back only its owner's write bit: it can hold passwords.
TEST_F(FileLocks, LockedFilesAreWriteProtectedAndGetOnlyTheirOwnersWriteBitBack) {
    // No path, a missing file, a folder: nothing locked, nothing made, and the next lock works.
    for (const QString& none : {QString(), path("missing.conf"), path(".")}) {
        Global::LockPhonebook(none);
        EXPECT_FALSE(state.PhonebookLockFile.isHeld()) << none.toStdString();
        Global::UnlockPhonebook(none);
    }
    EXPECT_FALSE(QFileInfo::exists(path("missing.conf")));
    writeBytes(settingsFile(), "[S]\r\n");
    for (const bool reduced : {false, true}) {
        SCOPED_TRACE(reduced ? "reduced" : "full");
        if (reduced)
            state.Guard = std::make_unique<FileGuard>(FileGuard::Protection::Reduced);
        const bool full = fullProtection();
        EXPECT_FALSE(full && reduced);
        for (const auto& [file, before, locked, after] : {std::tuple{settingsFile(), 0664u, 0444u, 0664u},
                                                          {phonebook, 0640u, 0440u, 0640u},
                                                          {phonebook, 0400u, 0400u, 0600u}}) {
            SCOPED_TRACE(before);
            ::chmod(QFile::encodeName(file).constData(), before);
            file == phonebook ? Global::LockPhonebook(file) : Global::LockSettingsFile();
            // The listener guards the settings file as it is; the phonebook is closed for the dialler.
            EXPECT_EQ(modeOf(file), full && file == settingsFile() ? before : locked);
            EXPECT_EQ(isImmutable(file), geteuid() == 0);
            EXPECT_NE(run({"flock", "-n", file, "true"}), 0);
            file == phonebook ? Global::UnlockPhonebook(file) : Global::UnlockSettingsFile();
            EXPECT_EQ(modeOf(file), after);
            EXPECT_FALSE(isImmutable(file));
            EXPECT_EQ(run({"flock", "-n", file, "true"}), 0);
        }
    }
    EXPECT_EQ(readBytes(settingsFile()), "[S]\r\n");
    // Closed for the dialler to read, it stays write-protected; opened again, it is held again.
    Global::LockPhonebook(phonebook);
    Global::ClosePhonebookLock();
    EXPECT_EQ(modeOf(phonebook), 0400u);
    EXPECT_TRUE(Global::FileExists(phonebook));
    Global::OpenLocked(phonebook);
    EXPECT_FALSE(Global::FileExists(phonebook));
    Global::UnlockPhonebook(phonebook);
}

// Each way a path can be taken from under root: refused, the file left as it was, and the refusal
// told with the path. A user's link swapped in for the phonebook meets the link row's rule.
TEST_F(FileLocks, APathThroughAnUnsafeFolderOrALinkIsNotLocked) {
    if (geteuid() != 0)
        GTEST_SKIP() << "folders of another user need root to make";
    QStringList told;
    state.Guard->setReporter([&](const QString& path, const QString& why) { told << path + " | " + why; });
    const auto folder = [&](const char* name, mode_t mode, uid_t owner) {
        const QByteArray where = QFile::encodeName(path(name));
        return ::mkdir(where.constData(), 0700) == 0 && ::chmod(where.constData(), mode) == 0 &&
               ::chown(where.constData(), owner, owner) == 0;
    };
    ASSERT_TRUE(folder("nobodys", 0755, 65534) && folder("group", 0775, 0) && folder("sticky", 01777, 0) &&
                folder("safe", 0755, 0) &&
                ::symlink("safe", QFile::encodeName(path("link")).constData()) == 0);
    const struct {
        const char* file;
        uid_t owner;
        const char* why; // empty: locked
    } rows[] = {
        {"nobodys/a.conf", 0, "nobodys belongs to uid 65534"},
        {"group/a.conf", 0, "group can be written by others than its owner"},
        {"sticky/a.conf", 65534, "sticky/a.conf belongs to uid 65534 in a folder open to all"},
        {"link/b.conf", 0, "link is a symbolic link"},
        {"sticky/b.conf", 0, ""},
        {"safe/a.conf", 65534, ""},
    };
    for (const auto& row : rows) {
        const QString file = path(row.file);
        writeBytes(file, "[Dialer Casa]\n");
        ::chmod(QFile::encodeName(file).constData(), 0640);
        ASSERT_EQ(::chown(QFile::encodeName(file).constData(), row.owner, row.owner), 0);
        told.clear();
        Global::LockPhonebook(file);
        const bool refused = *row.why != 0;
        EXPECT_EQ(modeOf(file), refused ? 0640u : 0440u) << row.file;
        const QString said = refused ? file + " | " + dir.path() + "/" + row.why : QString();
        EXPECT_EQ(told.value(0), said) << row.file;
        Global::UnlockPhonebook(file);
    }
}

// A run killed while holding both locks leaves records; the next start gives back exactly the mode
// and flags they hold, where the file system keeps extended attributes and where it keeps none
// (ramfs), and leaves an administrator's own immutable flag, which has no record, on.
TEST_F(FileLocks, TheFilesOfAKilledRunAreGivenBackAtTheNextStartAndAnAdministratorsFlagStays) {
    if (!fullProtection())
        GTEST_SKIP() << "needs root for the full protection";
    Global::Reset(); // no listener thread of ours while forking
    LockRecord::SetFolder(path("records"));
    const QString ramfs = path("ramfs");
    QDir().mkpath(ramfs);
    const bool mounted = run({"mount", "-t", "ramfs", "none", ramfs}) == 0;
    for (const QString& folder : mounted ? QStringList{dir.path(), ramfs} : QStringList{dir.path()}) {
        SCOPED_TRACE(folder.toStdString());
        const QString ini = folder + "/nv4.ini", book = folder + "/wvdial.conf", own = folder + "/own.conf";
        for (const QString& file : {ini, book, own})
            writeBytes(file, "x\n");
        ::chmod(QFile::encodeName(ini).constData(), 0664);
        ::chmod(QFile::encodeName(book).constData(), 0604);
        const bool flags = run({"chattr", "+i", own}) == 0;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            state.SettingsFile = ini;
            Global::LockSettingsFile();
            Global::LockPhonebook(book);
            Global::LockPhonebook(own);
            if (state.SettingsLockFile.isHeld() && state.PhonebookLockFile.isHeld())
                ::kill(::getpid(), SIGKILL);
            _exit(1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the child did not hold both locks";
        EXPECT_EQ(modeOf(book), 0404u);
        EXPECT_EQ(isImmutable(ini), flags);
        EXPECT_EQ(modeOf(ini), flags ? 0664u : 0444u);
        EXPECT_EQ(Global::RestoreRecorded({ini, book, own}).size(), flags ? 2 : 3);
        EXPECT_EQ(modeOf(ini), 0664u);
        EXPECT_EQ(modeOf(book), 0604u);
        EXPECT_FALSE(isImmutable(ini) || isImmutable(book));
        EXPECT_EQ(isImmutable(own), flags);
        EXPECT_TRUE(Global::RestoreRecorded({ini, book, own}).isEmpty()); // no record left
        run({"chattr", "-i", own});
    }
    if (mounted)
        run({"umount", ramfs});
}
