#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The guard's log on standard error, the same for every part of it. A line starts "norvale-guard: ";
// where standard error is systemd's journal (JOURNAL_STREAM names its device and inode), or a
// reader that takes them (NORVALE_LOG_PREFIX=priority: the init script's logger --prio-prefix), it
// starts with the priority prefix of sd-daemon.h instead, since the reader names the program itself.
// For a plain file where no syslog runs (NORVALE_LOG_PREFIX=time) it starts with the local time,
// the program and its pid, and "warning: " or "error: " where the line is one.
// A line that cannot be written (the reader gone or stopped, a full disk) is dropped, and the next
// line that gets through says how many were: the log never stops the guard.
namespace GuardLog {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };
enum class Prefix { Name, Priority, Time };
// A line is cut to this many bytes, "..." at its end: within logger's 1 KiB with its prefix.
inline constexpr qsizetype MaxLineBytes = 960;

// Writes to fd from now on (standard error, or a file in tests), with the prefix PrefixFor(fd)
// chooses, and takes Qt's messages, which every part of the guard logs through.
void Install(int fd = 2);
void Write(Priority priority, const QString& text);
// What Write writes: the text on one line, control characters shown as "?"; msSinceEpoch is the
// time the Time prefix shows.
QByteArray Line(Priority priority, const QString& text, Prefix prefix, qint64 msSinceEpoch = 0);
// NORVALE_LOG_PREFIX's choice; otherwise priorities where JOURNAL_STREAM names the file open on fd.
Prefix PrefixFor(int fd);

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
