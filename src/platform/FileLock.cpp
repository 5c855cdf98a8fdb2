#include "platform/FileLock.h"

#include "platform/FileGuard.h"
#include "platform/LockRecord.h"

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

FileLock::FileLock(FileGuard* guard, int fd, QString path, bool marked, bool immutable, unsigned savedMode,
                   bool ownsRecord)
    : m_guard(guard), m_fd(fd), m_path(std::move(path)), m_marked(marked), m_immutable(immutable),
      m_savedMode(savedMode), m_ownsRecord(ownsRecord) {}

FileLock::~FileLock() { release(); }

FileLock::FileLock(FileLock&& other) noexcept { *this = std::move(other); }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        m_guard = std::exchange(other.m_guard, nullptr);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_marked = std::exchange(other.m_marked, false);
        m_immutable = std::exchange(other.m_immutable, false);
        m_savedMode = std::exchange(other.m_savedMode, 0);
        m_ownsRecord = std::exchange(other.m_ownsRecord, false);
    }
    return *this;
}

void FileLock::release() {
    if (m_fd < 0)
        return;
    if (m_marked)
        m_guard->unmark(m_fd);
    if (m_immutable)
        FileGuard::setImmutable(m_fd, false);
    if (m_savedMode) {
        struct stat info {};
        // Give the write bits back unless someone changed the mode meanwhile.
        if (fstat(m_fd, &info) == 0 && (info.st_mode & 07777) == (m_savedMode & ~0222u))
            fchmod(m_fd, m_savedMode);
    }
    if (m_ownsRecord)
        LockRecord::Remove(m_fd);
    ::close(m_fd); // drops the flock
    m_fd = -1;
    m_marked = m_immutable = m_ownsRecord = false;
    m_savedMode = 0;
}
