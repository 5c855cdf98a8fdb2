#include "settings/FileLocks.h"

#include "platform/LockRecord.h"
#include "platform/TrustedPath.h"
#include "settings/Global.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Global {
namespace {

void lockInto(FileLock& handle, const QString& path) {
    // A second lock of a held file would fail to open; the first one stays.
    if (handle.isHeld())
        return;
    handle = state.Guard->lock(path);
}

// Without opening the file, which a held lock would deny, and on the descriptor of a walk without
// links through safe folders. record: the mode and flags are recorded first, where they can be.
void changeMode(const QString& path, mode_t clear, mode_t add, bool record = false) {
    const int fd = Subs::ResolveForLocking(path);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (record)
            LockRecord::Save(fd);
        const mode_t mode = info.st_mode & 07777;
        const mode_t wanted = (mode & ~clear) | add;
        if (wanted != mode)
            ::chmod(Subs::DescriptorPath(fd).constData(), wanted);
    }
    if (fd >= 0)
        ::close(fd);
}

// Creates the file with the banner line; never touches a file that already exists.
void createSettingsFile() {
    const QByteArray name = QFile::encodeName(state.SettingsFile);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const QByteArray banner = QByteArray(SettingsBanner) + "\r\n";
    (void)!::write(fd, banner.constData(), size_t(banner.size()));
    ::close(fd);
}

} // namespace

void OpenLocked(const QString& path) {
    lockInto(state.PhonebookLockFile, path);
}

void LockPhonebook(const QString& path) {
    if (path.isEmpty())
        return;
    changeMode(path, S_IWUSR | S_IWGRP | S_IWOTH, 0, true);
    OpenLocked(path);
}

void UnlockPhonebook(const QString& path) {
    if (path.isEmpty())
        return;
    state.PhonebookLockFile.release();
    // Back to the recorded mode and flags, also those left by a run that was killed while holding
    // the lock; a flag nobody recorded stays.
    const int fd = Subs::ResolveForLocking(path);
    if (fd >= 0) {
        QString what;
        LockRecord::Restore(fd, &what);
        ::close(fd);
    }
    changeMode(path, 0, S_IWUSR);
}

QStringList RestoreRecorded(const QStringList& paths) {
    QStringList said;
    for (const QString& path : paths) {
        const int fd = path.isEmpty() ? -1 : Subs::ResolveForLocking(path);
        if (fd < 0)
            continue;
        QString what;
        const LockRecord::Restored restored = LockRecord::Restore(fd, &what);
        ::close(fd);
        if (restored == LockRecord::Restored::Done)
            said << QStringLiteral("%1 was left locked by an earlier run: given back %2").arg(path, what);
        else if (restored == LockRecord::Restored::Failed)
            said << QStringLiteral("%1 was left locked by an earlier run and could not be given back: %2").arg(path, what);
    }
    return said;
}

void ClosePhonebookLock() { state.PhonebookLockFile.release(); }

void LockSettingsFile() {
    if (!FileExists(state.SettingsFile))
        createSettingsFile();
    lockInto(state.SettingsLockFile, state.SettingsFile);
}

void UnlockSettingsFile() { state.SettingsLockFile.release(); }

bool FileExists(const QString& path) { return FileGuard::canRead(path); }

} // namespace Global
