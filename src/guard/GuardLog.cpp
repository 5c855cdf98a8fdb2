#include "guard/GuardLog.h"

#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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

QByteArray Lines(Priority priority, const QString& text, bool journal) {
    const QByteArray prefix =
        journal ? '<' + QByteArray::number(int(priority)) + '>' : QByteArrayLiteral("norvale-guard: ");
    QByteArray out;
    // Every line its own prefix: a line without one would get the journal's default priority.
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
        out += prefix + line.toUtf8() + '\n';
    return out;
}

void Write(Priority priority, const QString& text) {
    const QByteArray lines = Lines(priority, text, journal);
    const int fd = logFd;
    // One write: lines of other threads never land inside these.
    qsizetype done = 0;
    while (done < lines.size()) {
        const ssize_t n = ::write(fd, lines.constData() + done, size_t(lines.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

} // namespace GuardLog
