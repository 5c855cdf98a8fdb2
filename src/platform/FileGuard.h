#pragma once

#include "platform/FileLock.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <thread>

// Keeps files unreadable and unwritable to every other process while they are locked.
// With the privileges for it, every open of a locked file is denied (fanotify, answered from a
// thread of its own that never waits for the user interface) and the file is made immutable,
// so it cannot be truncated, unlinked or replaced; where its file system has no immutable flag,
// its write bits are cleared and it is flocked as well. Without fanotify, protection is reduced to
// the immutable flag where allowed, cleared write bits and an exclusive flock. Each file's mode and flags are recorded before
// they change (LockRecord), and the record goes with the unlock.
class FileGuard final {
public:
    enum class Protection { Automatic, Reduced };

    explicit FileGuard(Protection protection = Protection::Automatic);
    ~FileGuard();
    Q_DISABLE_COPY_MOVE(FileGuard)

    // Told of a path that is protected less than fully: refused, because it runs through an
    // unsafe folder or a link, or locked with the reduced protection; why says which.
    using Reporter = std::function<void(const QString& path, const QString& why)>;
    void setReporter(Reporter reporter) { m_reporter = std::move(reporter); }

    // An unheld lock when the file cannot be opened or is refused.
    FileLock lock(const QString& path);

    // False once the privileged protection was found unavailable.
    bool fullProtection() const { return !m_reduced; }

    // True when the file can be opened for reading and nobody holds it locked.
    static bool canRead(const QString& path);

    // Immutable flag of a file; False when it cannot be set or cleared.
    static bool setImmutable(int fd, bool on);

private:
    friend class FileLock;
    bool startListener();
    void stopListener();
    void answerLoop();
    void reduce(const char* reason);
    void report(const QString& path, const QString& why);
    void unmark(int fd);

    bool m_reduced = false;
    bool m_warned = false;
    bool m_recordWarned = false;
    bool m_noImmutable = false;
    QString m_reason;
    Reporter m_reporter;
    int m_fanotify = -1;
    int m_wake = -1;
    std::thread m_listener;
};
