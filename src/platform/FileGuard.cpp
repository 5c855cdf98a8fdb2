#include "platform/FileGuard.h"

#include "platform/LockRecord.h"
#include "platform/TrustedPath.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr unsigned WriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool isPrivilegeError(int error) { return error == EPERM || error == EACCES; }
} // namespace

FileGuard::FileGuard(Protection protection)
    : m_reduced(protection == Protection::Reduced), m_reason(QStringLiteral("reduced protection asked for")) {}

FileGuard::~FileGuard() { stopListener(); }

void FileGuard::report(const QString& path, const QString& why) {
    if (m_reporter)
        m_reporter(path, why);
}

void FileGuard::reduce(const char* reason) {
    m_reduced = true;
    m_reason = QString::fromLocal8Bit(reason);
    if (!m_warned) {
        m_warned = true;
        qWarning("protection reduced (%s): locked files are only made immutable where allowed, "
                 "write-protected and flocked",
                 reason);
    }
}

bool FileGuard::startListener() {
    if (m_fanotify >= 0)
        return true;
    // A bounded queue would drop events, and with them the answers to waiting opens.
    const int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE,
                                  O_RDONLY | O_CLOEXEC);
    if (fan < 0) {
        reduce(std::strerror(errno));
        return false;
    }
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0) {
        ::close(fan);
        reduce(std::strerror(errno));
        return false;
    }
    m_fanotify = fan;
    m_listener = std::thread([this] { answerLoop(); });
    return true;
}

void FileGuard::stopListener() {
    if (m_fanotify < 0)
        return;
    const uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
    m_listener.join();
    // Closing the group lets every open that is still waiting through.
    ::close(m_fanotify);
    ::close(m_wake);
    m_fanotify = m_wake = -1;
}

// Runs on its own thread: denies every open of a marked file. It must never open a marked file
// itself, never wait for anything but its two descriptors, and never end before it is told to:
// an open that nobody answers hangs its process.
void FileGuard::answerLoop() {
    alignas(fanotify_event_metadata) char buffer[4096];
    pollfd fds[2] = {{m_fanotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        for (;;) {
            const ssize_t length = ::read(m_fanotify, buffer, sizeof buffer);
            if (length <= 0)
                break;
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            ssize_t left = length;
            while (FAN_EVENT_OK(event, left)) {
                if (event->mask & FAN_Q_OVERFLOW)
                    qWarning("the file guard's event queue overflowed");
                if (event->mask & FAN_OPEN_PERM) {
                    const fanotify_response answer{event->fd, FAN_DENY};
                    (void)!::write(m_fanotify, &answer, sizeof answer);
                }
                if (event->fd >= 0)
                    ::close(event->fd);
                event = FAN_EVENT_NEXT(event, left);
            }
        }
    }
}

void FileGuard::unmark(int fd) {
    if (m_fanotify >= 0)
        fanotify_mark(m_fanotify, FAN_MARK_REMOVE, FAN_OPEN_PERM, fd, nullptr);
}

bool FileGuard::setImmutable(int fd, bool on) {
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) < 0)
        return false;
    const int wanted = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~(FS_IMMUTABLE_FL | FS_APPEND_FL));
    return wanted == flags || ioctl(fd, FS_IOC_SETFLAGS, &wanted) == 0;
}

FileLock FileGuard::lock(const QString& path) {
    // By descriptors from a walk without links through safe folders: a user who can rename a
    // folder on the way would otherwise point root's flag, mark and mode at any file.
    QString why;
    const int at = Subs::ResolveForLocking(path, &why);
    if (at < 0) {
        if (errno == EPERM || errno == ELOOP)
            report(path, why);
        return {};
    }
    struct stat info {};
    const int fd = ::fstat(at, &info) == 0 && S_ISREG(info.st_mode)
                       ? ::open(Subs::DescriptorPath(at).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                       : -1;
    ::close(at);
    if (fd < 0)
        return {};
    // Recorded before anything changes, so that a run that never unlocks can be undone.
    bool ownsRecord = false;
    if (!LockRecord::Save(fd, &ownsRecord) && !m_recordWarned) {
        m_recordWarned = true;
        qWarning("cannot record the mode and flags of %s before locking it", qPrintable(path));
    }
    int flags = 0;
    const bool hasFlags = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    // An immutable flag of someone else's stays theirs: protected as it is, and left on.
    bool immutable = false;
    if (hasFlags && !(flags & FS_IMMUTABLE_FL) && !m_noImmutable) {
        immutable = setImmutable(fd, true);
        if (!immutable && isPrivilegeError(errno)) {
            m_noImmutable = true;
            reduce("no right to make files immutable");
        }
    }
    bool marked = false;
    // The mark goes on after our own open, which it would otherwise deny.
    if (!m_reduced && startListener()) {
        marked = fanotify_mark(m_fanotify, FAN_MARK_ADD, FAN_OPEN_PERM, fd, nullptr) == 0;
        if (!marked && isPrivilegeError(errno))
            reduce(std::strerror(errno));
    }
    if (m_reduced)
        report(path, m_reason);
    // A file that is not immutable (no such flag on vfat, NFS, ramfs; no right to it) could still
    // be truncated or replaced: its write bits are cleared and it is flocked as well.
    const bool frozen = immutable || (hasFlags && (flags & FS_IMMUTABLE_FL));
    unsigned savedMode = 0;
    if (!marked || !frozen) {
        const unsigned mode = info.st_mode & 07777;
        // The mode cannot change under our own flag: off for a moment.
        if (immutable)
            setImmutable(fd, false);
        savedMode = (mode & WriteBits) && fchmod(fd, mode & ~WriteBits) == 0 ? mode : 0;
        if (immutable)
            immutable = setImmutable(fd, true);
        if (flock(fd, LOCK_EX | LOCK_NB) < 0 && !marked) {
            if (savedMode)
                fchmod(fd, mode);
            if (immutable)
                setImmutable(fd, false);
            if (ownsRecord)
                LockRecord::Remove(fd);
            ::close(fd);
            return {};
        }
    }
    return FileLock(this, fd, path, marked, immutable, savedMode, ownsRecord);
}

bool FileGuard::canRead(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info {};
    const bool ok = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode) && flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd); // also drops the shared flock
    return ok;
}
