#include "platform/TrustedPath.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Subs {
namespace {

// As the kernel's own limit.
constexpr int MaxLinks = 40;

bool ownUser(uid_t uid) {
    return uid == 0 || uid == ::geteuid();
}

// Only its owner can add, remove or rename what it holds: nobody else may write to it, or it is
// a sticky folder, in which each one may only touch their own names.
bool closed(const struct stat& info) {
    const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX);
    return ownUser(info.st_uid) && ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || sticky);
}

// The names of a path onto a stack that is taken from its end.
void pushNames(QList<QByteArray>& names, const QByteArray& path) {
    const QList<QByteArray> parts = path.split('/');
    for (auto it = parts.crbegin(); it != parts.crend(); ++it) {
        if (!it->isEmpty() && *it != ".")
            names.append(*it);
    }
}

int openStart(const QByteArray& path) {
    return ::open(path.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// One name at a time on O_PATH descriptors, so that what was judged is what is used. strict: every
// folder on the way and the end must be closed. -1 with errno and, in why, what stopped it.
int walk(const QString& path, bool strict, QString* why) {
    const auto failed = [why](int at, int error, const QString& reason) {
        if (at >= 0)
            ::close(at);
        if (why)
            *why = reason;
        errno = error;
        return -1;
    };
    const QByteArray name = QFile::encodeName(path);
    int at = openStart(name);
    if (at < 0)
        return failed(at, errno, QString::fromLocal8Bit(std::strerror(errno)));
    QList<QByteArray> names;
    pushNames(names, name);
    QByteArray where = name.startsWith('/') ? QByteArray("/") : QByteArray(".");
    int links = 0;
    struct stat info {};
    for (;;) {
        if (strict && (::fstat(at, &info) != 0 || !closed(info))) {
            const QString place = QFile::decodeName(where);
            return failed(at, EPERM,
                          ownUser(info.st_uid)
                              ? QStringLiteral("%1 can be written by others than its owner").arg(place)
                              : QStringLiteral("%1 belongs to uid %2").arg(place).arg(info.st_uid));
        }
        if (names.isEmpty())
            return at;
        const QByteArray next = names.takeLast();
        where = where.endsWith('/') ? where + next : where + '/' + next;
        const int fd = ::openat(at, next.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            const int error = errno;
            if (fd >= 0)
                ::close(fd);
            return failed(at, error,
                          QStringLiteral("%1: %2").arg(QFile::decodeName(where),
                                                       QString::fromLocal8Bit(std::strerror(error))));
        }
        if (!S_ISLNK(info.st_mode)) {
            ::close(at);
            at = fd;
            continue;
        }
        char target[PATH_MAX];
        const ssize_t size =
            ++links <= MaxLinks && ownUser(info.st_uid) ? ::readlinkat(fd, "", target, sizeof target) : -1;
        ::close(fd);
        if (size <= 0 || size == ssize_t(sizeof target))
            return failed(at, ELOOP,
                          links > MaxLinks
                              ? QStringLiteral("%1: too many links").arg(QFile::decodeName(where))
                              : QStringLiteral("%1 is a link of uid %2")
                                    .arg(QFile::decodeName(where))
                                    .arg(info.st_uid));
        const QByteArray link(target, size);
        if (link.startsWith('/')) {
            ::close(at);
            at = openStart(link);
            if (at < 0)
                return failed(at, errno, QString::fromLocal8Bit(std::strerror(errno)));
        }
        pushNames(names, link);
    }
}

} // namespace

int ResolveWithOwnLinks(const QString& path) {
    return walk(path, false, nullptr);
}

QByteArray DescriptorPath(int fd) {
    char name[32];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    return name;
}

int OpenRegularWithOwnLinks(const QString& path, int flags) {
    const int at = ResolveWithOwnLinks(path);
    if (at < 0)
        return -1;
    struct stat info {};
    // Opening a device or a FIFO may have effects of its own: only a regular file is opened.
    const int fd = ::fstat(at, &info) == 0 && S_ISREG(info.st_mode)
                       ? ::open(DescriptorPath(at).constData(), flags | O_CLOEXEC)
                       : (errno = EINVAL, -1);
    const int error = errno;
    ::close(at);
    errno = error;
    return fd;
}

bool OnlyOwnersCanChange(const QString& path, QString* why) {
    const int fd = walk(path, true, why);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace Subs
