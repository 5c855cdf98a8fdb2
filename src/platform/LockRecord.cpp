#include "platform/LockRecord.h"

#include "platform/PrivateFolder.h"
#include "platform/TrustedPath.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace LockRecord {
namespace {

QString& folder() {
    static QString path = QStringLiteral("/var/lib/norvale-guard");
    return path;
}

// The record's file in the folder, named after the file's device and inode.
QByteArray recordFile(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    return QFile::encodeName(folder()) + "/" + QByteArray::number(quint64(info.st_dev), 16) + "-" +
           QByteArray::number(quint64(info.st_ino), 16);
}

// "MODE FLAGS" in octal and hex; "-" for flags the file system does not have.
QByteArray read(int fd, bool* inFolder) {
    char value[64];
    const ssize_t size = ::getxattr(Subs::DescriptorPath(fd).constData(), Attribute, value, sizeof value - 1);
    *inFolder = false;
    if (size > 0)
        return QByteArray(value, size);
    const int file = ::open(recordFile(fd).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (file < 0)
        return {};
    const ssize_t got = ::read(file, value, sizeof value - 1);
    ::close(file);
    *inFolder = got > 0;
    return got > 0 ? QByteArray(value, got).trimmed() : QByteArray();
}

// An open descriptor of the file for the flag ioctls; never a device's or a FIFO's.
int openForFlags(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return ::open(Subs::DescriptorPath(fd).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

} // namespace

void SetFolder(const QString& path) { folder() = path; }
QString Folder() { return folder(); }

bool Exists(int fd) {
    bool inFolder = false;
    return !read(fd, &inFolder).isEmpty();
}

bool Save(int fd, bool* owned) {
    if (owned)
        *owned = false;
    if (Exists(fd))
        return true;
    struct stat info {};
    const int file = openForFlags(fd);
    if (file < 0 || ::fstat(file, &info) != 0) {
        if (file >= 0)
            ::close(file);
        return false;
    }
    int flags = 0;
    const bool hasFlags = ::ioctl(file, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(file);
    // Someone else's immutable file: neither its mode nor its flags will be changed by the locks.
    if (hasFlags && (flags & FS_IMMUTABLE_FL))
        return true;
    char value[64];
    const int size = hasFlags ? std::snprintf(value, sizeof value, "%04o %08x", info.st_mode & 07777, unsigned(flags))
                              : std::snprintf(value, sizeof value, "%04o -", info.st_mode & 07777);
    if (::setxattr(Subs::DescriptorPath(fd).constData(), Attribute, value, size_t(size), XATTR_CREATE) == 0) {
        if (owned)
            *owned = true;
        return true;
    }
    // No extended attributes here (vfat, NFS), or no right to trusted ones: a file of records.
    if (!Subs::EnsurePrivateFolder(folder()))
        return false;
    const int out = ::open(recordFile(fd).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool written = out >= 0 && ::write(out, value, size_t(size)) == size && ::fsync(out) == 0;
    if (out >= 0)
        ::close(out);
    if (owned)
        *owned = written;
    return written;
}

void Remove(int fd) {
    if (::removexattr(Subs::DescriptorPath(fd).constData(), Attribute) != 0)
        ::unlink(recordFile(fd).constData());
}

Restored Restore(int fd, QString* what) {
    bool inFolder = false;
    const QByteArray record = read(fd, &inFolder);
    if (record.isEmpty())
        return Restored::None;
    const QList<QByteArray> fields = record.split(' ');
    bool modeOk = false, flagsOk = fields.size() == 2 && fields[1] == "-";
    const uint mode = fields.value(0).toUInt(&modeOk, 8);
    const uint flags = flagsOk ? 0u : fields.value(1).toUInt(&flagsOk, 16);
    const bool hasFlags = fields.value(1) != "-";
    const int file = openForFlags(fd);
    if (!modeOk || !flagsOk || mode > 07777 || file < 0) {
        if (file >= 0)
            ::close(file);
        *what = QStringLiteral("a record \"%1\" that cannot be used").arg(QString::fromLatin1(record));
        return Restored::Failed;
    }
    // The immutable flag goes first: the mode and the record cannot change under it.
    int current = 0;
    if (hasFlags && ::ioctl(file, FS_IOC_GETFLAGS, &current) == 0) {
        const int open = current & ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
        if (open != current)
            ::ioctl(file, FS_IOC_SETFLAGS, &open);
    }
    const bool moded = ::fchmod(file, mode) == 0;
    Remove(fd);
    int wanted = int(flags);
    const bool flagged = !hasFlags || ::ioctl(file, FS_IOC_SETFLAGS, &wanted) == 0;
    ::close(file);
    *what = QStringLiteral("mode %1, flags %2").arg(mode, 4, 8, QLatin1Char('0')).arg(QString::fromLatin1(fields.value(1)));
    return moded && flagged ? Restored::Done : Restored::Failed;
}

} // namespace LockRecord
