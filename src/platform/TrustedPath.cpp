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

enum class Rule {
    Trusted,  // only links of root's or this user's, and every folder on the way and the end closed
    NoLinks,  // no link at all, and every folder on the way safe for locking what it holds
    OwnLinks, // only links of root's or this user's, and every folder on the way safe as for NoLinks
};

// A folder root may lock, chmod or chattr files in: nobody but its owner can rename what it
// holds, unless it is sticky, open to all and the next name belongs to another user, who may
// rename that one away.
QString unsafeFolder(const struct stat& folder, const struct stat& next, const QByteArray& where,
                     const QByteArray& nextWhere) {
    const bool sticky = folder.st_mode & S_ISVTX;
    if (!ownUser(folder.st_uid))
        return QStringLiteral("%1 belongs to uid %2").arg(QFile::decodeName(where)).arg(folder.st_uid);
    if ((folder.st_mode & (S_IWGRP | S_IWOTH)) && !sticky)
        return QStringLiteral("%1 can be written by others than its owner").arg(QFile::decodeName(where));
    if (sticky && (folder.st_mode & S_IWOTH) && !ownUser(next.st_uid))
        return QStringLiteral("%1 belongs to uid %2 in a folder open to all")
            .arg(QFile::decodeName(nextWhere))
            .arg(next.st_uid);
    return {};
}

// One name at a time on O_PATH descriptors, so that what was judged is what is used. -1 with
// errno and, in why, what stopped it.
int walk(const QString& path, Rule rule, QString* why) {
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
    struct stat folder {};
    for (;;) {
        if (::fstat(at, &folder) != 0)
            return failed(at, errno, QString::fromLocal8Bit(std::strerror(errno)));
        if (rule == Rule::Trusted && !closed(folder)) {
            const QString place = QFile::decodeName(where);
            return failed(at, EPERM,
                          ownUser(folder.st_uid)
                              ? QStringLiteral("%1 can be written by others than its owner").arg(place)
                              : QStringLiteral("%1 belongs to uid %2").arg(place).arg(folder.st_uid));
        }
        if (names.isEmpty())
            return at;
        const QByteArray next = names.takeLast();
        const QByteArray folderWhere = where;
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
        if (rule != Rule::Trusted) {
            QString unsafe = S_ISLNK(info.st_mode) && rule == Rule::NoLinks
                                 ? QStringLiteral("%1 is a symbolic link").arg(QFile::decodeName(where))
                                 : unsafeFolder(folder, info, folderWhere, where);
            if (!unsafe.isEmpty()) {
                ::close(fd);
                return failed(at, S_ISLNK(info.st_mode) ? ELOOP : EPERM, unsafe);
            }
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

int ResolveForLocking(const QString& path, QString* why) {
    return walk(path, Rule::NoLinks, why);
}

int ResolveWithOwnLinks(const QString& path, QString* why) {
    return walk(path, Rule::OwnLinks, why);
}

QByteArray DescriptorPath(int fd) {
    char name[32];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    return name;
}

bool OnlyOwnersCanChange(const QString& path, QString* why) {
    const int fd = walk(path, Rule::Trusted, why);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace Subs
