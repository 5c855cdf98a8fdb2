#include "guard/GuardLog.h"

#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace GuardLog {

namespace {

// Where lines go: a socket (the journal's stream) is written with MSG_DONTWAIT, a pipe or a terminal
// through a description of the guard's own, opened non-blocking: a reader that stops (a logger whose
// syslog hangs) must not stop the guard. Its lines are lost then, and the next line says how many.
enum class Sink { Plain, Socket, OwnDescription };

// Set before the guard's threads start; read from any of them (the file guard's logs too).
std::atomic<int> logFd{2};
std::atomic<Sink> sinkOfLines{Sink::Plain};
std::atomic<Prefix> prefixOfLines{Prefix::Name};
std::atomic<long> linesLost{0};

std::pair<int, Sink> sinkFor(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {fd, Sink::Plain};
    if (S_ISSOCK(info.st_mode))
        return {fd, Sink::Socket};
    if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
        // O_NONBLOCK on the shared description would reach pppd and the scripts it runs.
        const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
        const int own = ::open(path.constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (own >= 0)
            return {own, Sink::OwnDescription};
    }
    return {fd, Sink::Plain};
}

// The whole line or nothing: a pipe takes a line within PIPE_BUF at once or not at all; a socket
// that took part of one gets a second to take the rest.
bool put(int fd, Sink sink, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const char* from = bytes.constData() + done;
        const size_t size = size_t(bytes.size() - done);
        const ssize_t n = sink == Sink::Socket ? ::send(fd, from, size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                               : ::write(fd, from, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && done > 0) {
            pollfd ready{fd, POLLOUT, 0};
            if (::poll(&ready, 1, 1000) > 0)
                continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

Priority priorityOf(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return Priority::Debug;
    case QtInfoMsg:
        return Priority::Info;
    case QtWarningMsg:
        return Priority::Warning;
    case QtCriticalMsg:
    case QtFatalMsg:
        break;
    }
    return Priority::Error;
}

// RFC 3339 in local time, to the millisecond: 2026-12-07T22:51:19.123+01:00.
QByteArray localTime(qint64 msSinceEpoch) {
    const time_t seconds = time_t(msSinceEpoch / 1000);
    tm local{};
    if (!::localtime_r(&seconds, &local))
        return "?";
    const long minutes = local.tm_gmtoff / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  int(msSinceEpoch % 1000), minutes < 0 ? '-' : '+', std::labs(minutes) / 60,
                  std::labs(minutes) % 60);
    return text;
}

QByteArray prefixOf(Priority priority, Prefix prefix, qint64 msSinceEpoch) {
    switch (prefix) {
    case Prefix::Priority:
        return '<' + QByteArray::number(int(priority)) + '>';
    case Prefix::Time: {
        // A file has no priorities: warnings and errors say what they are.
        const QByteArray word = priority == Priority::Error     ? QByteArrayLiteral("error: ")
                                : priority == Priority::Warning ? QByteArrayLiteral("warning: ")
                                                                : QByteArray();
        return localTime(msSinceEpoch) + " norvale-guard[" + QByteArray::number(::getpid()) + "]: " + word;
    }
    case Prefix::Name:
        break;
    }
    return QByteArrayLiteral("norvale-guard: ");
}

void fromQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    Write(priorityOf(type), message);
}

} // namespace

Prefix PrefixFor(int fd) {
    const QByteArray asked = qgetenv("NORVALE_LOG_PREFIX");
    if (asked == "priority")
        return Prefix::Priority;
    if (asked == "time")
        return Prefix::Time;
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    bool device = false;
    bool inode = false;
    const qulonglong deviceNumber = stream.left(colon).toULongLong(&device);
    const qulonglong inodeNumber = stream.mid(colon + 1).toULongLong(&inode);
    struct stat info {};
    const bool journal = colon > 0 && device && inode && ::fstat(fd, &info) == 0 &&
                         info.st_dev == deviceNumber && info.st_ino == inodeNumber;
    return journal ? Prefix::Priority : Prefix::Name;
}

void Install(int fd) {
    if (sinkOfLines.exchange(Sink::Plain) == Sink::OwnDescription)
        ::close(logFd);
    prefixOfLines = PrefixFor(fd);
    const auto [to, sink] = sinkFor(fd);
    logFd = to;
    sinkOfLines = sink;
    linesLost = 0;
    qInstallMessageHandler(fromQt);
}

QByteArray Line(Priority priority, const QString& text, Prefix prefix, qint64 msSinceEpoch) {
    // One message, one line: a name or a path that another user chose must not start a line that
    // reads as the guard's own. Nor may its length: syslog readers cut a long line into messages of
    // their own (logger at 1 KiB).
    QString line = text.trimmed();
    // Nor may it turn the rest of the line around (U+202E) where the log is read.
    for (QChar& c : line) {
        const QChar::Category category = c.category();
        if (c == u'\n' || c == u'\r' || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            c = u' ';
        else if ((c.unicode() < 0x20 && c != u'\t') || (c.unicode() >= 0x7f && c.unicode() <= 0x9f) ||
                 category == QChar::Other_Format)
            c = u'?';
    }
    QByteArray bytes = prefixOf(priority, prefix, msSinceEpoch) + line.toUtf8();
    if (bytes.size() > MaxLineBytes) {
        qsizetype end = MaxLineBytes - 3;
        while ((bytes.at(end) & 0xC0) == 0x80) // never inside a character
            --end;
        bytes = bytes.left(end) + "...";
    }
    return bytes + '\n';
}

void Write(Priority priority, const QString& text) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // One write: lines of other threads never land inside this one. A line that cannot be written
    // (EPIPE, ENOSPC, EIO, EAGAIN) is dropped and counted; the next one is tried as ever.
    const qint64 ms = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    QByteArray bytes = Line(priority, text, prefixOfLines, ms);
    const long lost = linesLost.exchange(0);
    if (lost > 0)
        bytes.prepend(Line(Priority::Warning, QStringLiteral("%1 lines of the log lost: its reader took no more").arg(lost),
                           prefixOfLines, ms));
    if (!put(logFd, sinkOfLines, bytes))
        linesLost += lost + 1;
}

} // namespace GuardLog
