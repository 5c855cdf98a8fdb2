#pragma once

#include "platform/FileLock.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <thread>

// Keeps files unreadable and unwritable to every other process while they are locked.
// With the privileges for it, every open of a locked file is denied (fanotify, answered from a
// thread of its own that never waits for the user interface) and the file is made immutable,
// so it cannot be truncated, unlinked or replaced. Without them, protection is reduced to
// clearing its write bits and an exclusive flock.
class FileGuard final {
public:
    enum class Protection { Automatic, Reduced };

    explicit FileGuard(Protection protection = Protection::Automatic);
    ~FileGuard();
    Q_DISABLE_COPY_MOVE(FileGuard)

    // An unheld lock when the file cannot be opened.
    FileLock lock(const QString& path);

    // False once the privileged protection was found unavailable.
    bool fullProtection() const { return !m_reduced; }

    // True when the file can be opened for reading and nobody holds it locked.
    static bool canRead(const QString& path);

    // Immutable flag of a file; False when it cannot be set or cleared.
    static bool setImmutable(int fd, bool on);
    static bool clearImmutable(const QString& path);

private:
    friend class FileLock;
    bool startListener();
    void stopListener();
    void answerLoop();
    void reduce(const char* reason);
    void unmark(int fd);

    bool m_reduced = false;
    bool m_warned = false;
    int m_fanotify = -1;
    int m_wake = -1;
    std::thread m_listener;
};
