#include "guard/GuardLog.h"

#include "platform/SystemHelpers.h"

#include <QtGlobal>

#include <atomic>
#include <sys/stat.h>

namespace GuardLog {

namespace {

// Set before the guard's threads start; read from any of them (the file guard's logs too).
std::atomic<int> logFd{2};
std::atomic<bool> journal{false};

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

void fromQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    Write(priorityOf(type), message);
}

} // namespace

bool IsJournal(int fd) {
    if (qgetenv("NORVALE_LOG_PREFIX") == "priority")
        return true;
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    bool device = false;
    bool inode = false;
    const qulonglong deviceNumber = stream.left(colon).toULongLong(&device);
    const qulonglong inodeNumber = stream.mid(colon + 1).toULongLong(&inode);
    struct stat info {};
    return colon > 0 && device && inode && ::fstat(fd, &info) == 0 && info.st_dev == deviceNumber &&
           info.st_ino == inodeNumber;
}

void Install(int fd) {
    logFd = fd;
    journal = IsJournal(fd);
    qInstallMessageHandler(fromQt);
}

QByteArray Line(Priority priority, const QString& text, bool journal) {
    // One message, one line: a name or a path that another user chose must not start a line that
    // reads as the guard's own. Nor may its length: syslog readers cut a long line into messages of
    // their own (logger at 1 KiB).
    QString line = text.trimmed();
    for (QChar& c : line) {
        if (c == u'\n' || c == u'\r')
            c = u' ';
        else if ((c.unicode() < 0x20 && c != u'\t') || (c.unicode() >= 0x7f && c.unicode() <= 0x9f))
            c = u'?';
    }
    const QByteArray prefix =
        journal ? '<' + QByteArray::number(int(priority)) + '>' : QByteArrayLiteral("norvale-guard: ");
    QByteArray bytes = prefix + line.toUtf8();
    if (bytes.size() > MaxLineBytes) {
        qsizetype end = MaxLineBytes - 3;
        while ((bytes.at(end) & 0xC0) == 0x80) // never inside a character
            --end;
        bytes = bytes.left(end) + "...";
    }
    return bytes + '\n';
}

void Write(Priority priority, const QString& text) {
    // One write: lines of other threads never land inside this one.
    Subs::WriteAll(logFd, Line(priority, text, journal));
}

} // namespace GuardLog
