#pragma once

#include <QString>

class FileGuard;

// One file held locked against every other opener; released when destroyed.
class FileLock final {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool isHeld() const { return m_fd >= 0; }
    const QString& path() const { return m_path; }
    void release();

private:
    friend class FileGuard;
    FileLock(FileGuard* guard, int fd, QString path, bool marked, bool immutable, unsigned savedMode,
             bool ownsRecord);

    FileGuard* m_guard = nullptr;
    int m_fd = -1;
    QString m_path;
    bool m_marked = false;    // open-permission events denied
    bool m_immutable = false; // immutable flag set by us
    unsigned m_savedMode = 0; // write bits to give back; 0 when none taken
    bool m_ownsRecord = false; // the record of mode and flags was written for this lock
};
