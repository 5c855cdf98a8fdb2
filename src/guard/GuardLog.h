#pragma once

#include <QByteArray>
#include <QString>

// The guard's log on standard error, the same for every part of it. A line starts "norvale-guard: ";
// where standard error is systemd's journal (JOURNAL_STREAM names its device and inode), or a
// reader that takes them (NORVALE_LOG_PREFIX=priority: the init script's logger --prio-prefix), it
// starts with the priority prefix of sd-daemon.h instead, since the reader names the program itself.
namespace GuardLog {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };
// A line is cut to this many bytes, "..." at its end: within logger's 1 KiB with its prefix.
inline constexpr qsizetype MaxLineBytes = 960;

// Writes to fd from now on (standard error, or a file in tests), with the priorities when
// JOURNAL_STREAM names fd, and takes Qt's messages, which every part of the guard logs through.
void Install(int fd = 2);
void Write(Priority priority, const QString& text);
// What Write writes: the text on one line, control characters shown as "?".
QByteArray Line(Priority priority, const QString& text, bool journal);
// Whether JOURNAL_STREAM names the file open on fd, or NORVALE_LOG_PREFIX asks for priorities.
bool IsJournal(int fd);

inline void Error(const QString& text) {
    Write(Priority::Error, text);
}
inline void Warning(const QString& text) {
    Write(Priority::Warning, text);
}
inline void Notice(const QString& text) {
    Write(Priority::Notice, text);
}
inline void Info(const QString& text) {
    Write(Priority::Info, text);
}

} // namespace GuardLog
