#include "platform/FileGuard.h"

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

FileGuard::FileGuard(Protection protection) : m_reduced(protection == Protection::Reduced) {}

FileGuard::~FileGuard() { stopListener(); }

void FileGuard::reduce(const char* reason) {
    m_reduced = true;
    if (!m_warned) {
        m_warned = true;
        std::fprintf(stderr,
                     "norvale: protection reduced (%s): locked files are only write-protected and flocked\n",
                     reason);
    }
}

bool FileGuard::startListener() {
    if (m_fanotify >= 0)
        return true;
    const int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_CLOEXEC);
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
// itself, and never wait for anything but its two descriptors.
void FileGuard::answerLoop() {
    alignas(fanotify_event_metadata) char buffer[4096];
    pollfd fds[2] = {{m_fanotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        for (;;) {
            const ssize_t length = ::read(m_fanotify, buffer, sizeof buffer);
            if (length <= 0)
                break;
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            ssize_t left = length;
            while (FAN_EVENT_OK(event, left)) {
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

bool FileGuard::clearImmutable(const QString& path) {
    const int fd = Subs::OpenRegularWithOwnLinks(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool done = setImmutable(fd, false);
    ::close(fd);
    return done;
}

FileLock FileGuard::lock(const QString& path) {
    // Not through another user's link: the flag, the mark and the mode would land on its target.
    const int fd = Subs::OpenRegularWithOwnLinks(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return {};
    struct stat info {};
    if (fstat(fd, &info) < 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {};
    }
    if (!m_reduced) {
        bool immutable = setImmutable(fd, true);
        if (!immutable && isPrivilegeError(errno))
            reduce("no right to make files immutable");
        // The mark goes on after our own open, which it would otherwise deny.
        if (!m_reduced && startListener()) {
            if (fanotify_mark(m_fanotify, FAN_MARK_ADD, FAN_OPEN_PERM, fd, nullptr) == 0)
                return FileLock(this, fd, path, true, immutable, 0);
            if (isPrivilegeError(errno))
                reduce(std::strerror(errno));
        }
        if (immutable)
            setImmutable(fd, false);
    }
    const unsigned mode = info.st_mode & 07777;
    const bool tookBits = (mode & WriteBits) && fchmod(fd, mode & ~WriteBits) == 0;
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
        if (tookBits)
            fchmod(fd, mode);
        ::close(fd);
        return {};
    }
    return FileLock(this, fd, path, false, false, tookBits ? mode : 0);
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
