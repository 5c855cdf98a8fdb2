#include "platform/PrivateFolder.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Subs {

bool EnsurePrivateFolder(const QString& path, QString* why) {
    const auto failed = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return failed(QStringLiteral("cannot make %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
    // Opened without following a link, then judged by what was opened, not by the name.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return failed(QStringLiteral("%1 is not a folder of its own: %2")
                          .arg(path, QString::fromLocal8Bit(strerror(errno))));
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid();
    if (ok && (info.st_mode & 077) != 0)
        ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return ok ? true : failed(QStringLiteral("%1 belongs to another user or cannot be made private").arg(path));
}

} // namespace Subs
