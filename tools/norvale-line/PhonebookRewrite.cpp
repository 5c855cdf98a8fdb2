#include "PhonebookRewrite.h"

#include "platform/SystemHelpers.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PhonebookRewrite {

namespace {

constexpr qint64 MaxBytes = 32 * 1024 * 1024;

QString lastError(const char* what) {
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

bool readAll(const QByteArray& path, QByteArray& content, QString& error) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = lastError("open for reading");
        return false;
    }
    content.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = lastError("read");
            ::close(fd);
            return false;
        }
        if (n == 0 || content.size() + n > MaxBytes)
            break;
        content.append(buffer, n);
    }
    ::close(fd);
    return true;
}

bool inPlace(const QByteArray& path, const QByteArray& content, QString& error) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = lastError("open for writing");
        return false;
    }
    const bool ok = Subs::WriteAll(fd, content) && ::ftruncate(fd, off_t(content.size())) == 0;
    if (!ok)
        error = lastError("write");
    if (::close(fd) != 0 && ok) {
        error = lastError("close");
        return false;
    }
    return ok;
}

bool byRename(const QByteArray& path, const QByteArray& content, QString& error) {
    QByteArray temp = path + ".norvale-line.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = lastError("create a file beside it");
        return false;
    }
    struct stat info {};
    if (::stat(path.constData(), &info) == 0)
        ::fchmod(fd, info.st_mode & 07777);
    bool ok = Subs::WriteAll(fd, content);
    if (!ok)
        error = lastError("write");
    if (::close(fd) != 0 && ok) {
        error = lastError("close");
        ok = false;
    }
    if (ok && ::rename(temp.constData(), path.constData()) != 0) {
        error = lastError("rename over it");
        ok = false;
    }
    if (!ok)
        ::unlink(temp.constData());
    return ok;
}

} // namespace

QByteArray withNumber(const QByteArray& content, const QString& name, const QString& number) {
    const QByteArray eol = content.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QByteArray phoneLine = "Phone = " + number.toUtf8();
    const QString wanted = QStringLiteral("dialer ") + name.toLower();

    QList<QByteArray> lines = content.split('\n');
    // split() gives an empty last piece after a final line end; it is put back on joining.
    const bool finalEol = content.endsWith('\n');
    if (finalEol)
        lines.removeLast();

    bool inEntry = false;
    bool replaced = false;
    qsizetype firstHeader = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray& line = lines[i];
        const bool cr = line.endsWith('\r');
        const QString text = QString::fromUtf8(cr ? line.chopped(1) : line).trimmed();
        if (text.startsWith(u'[') && text.endsWith(u']')) {
            inEntry = text.mid(1, text.size() - 2).trimmed().toLower() == wanted;
            if (inEntry && firstHeader < 0)
                firstHeader = i;
            continue;
        }
        const qsizetype equals = text.indexOf(u'=');
        if (inEntry && equals > 0 &&
            text.left(equals).trimmed().compare(u"phone", Qt::CaseInsensitive) == 0) {
            line = phoneLine + (cr ? "\r" : "");
            replaced = true;
        }
    }
    const QByteArray cr = eol == "\r\n" ? QByteArray("\r") : QByteArray();
    if (!replaced && firstHeader >= 0) {
        lines.insert(firstHeader + 1, phoneLine + cr);
    } else if (!replaced) {
        if (!lines.isEmpty() && !lines.back().trimmed().isEmpty())
            lines.append(cr);
        lines.append("[Dialer " + name.toUtf8() + "]" + cr);
        lines.append(phoneLine + cr);
    }
    QByteArray out = lines.join('\n');
    if (finalEol || !replaced)
        out += '\n';
    return out;
}

Result rewrite(const QString& path, const QString& name, const QString& number) {
    const QByteArray file = QFile::encodeName(path);
    QByteArray content;
    QString error;
    if (!readAll(file, content, error))
        return {false, QStringLiteral("could not read %1 (%2)").arg(path, error)};
    const QByteArray changed = withNumber(content, name, number);

    QString how;
    QString inPlaceError;
    QString renameError;
    if (inPlace(file, changed, inPlaceError)) {
        how = QStringLiteral("written in place");
    } else if (byRename(file, changed, renameError)) {
        how = QStringLiteral("replaced by rename; in place it failed (%1)").arg(inPlaceError);
    } else {
        return {false, QStringLiteral("could not write %1 (%2; %3)").arg(path, inPlaceError, renameError)};
    }

    QByteArray check;
    if (!readAll(file, check, error))
        return {false, QStringLiteral("wrote %1 but could not read it back (%2)").arg(path, error)};
    if (check != changed)
        return {false, QStringLiteral("wrote %1 but it does not hold the new number").arg(path)};
    return {true, QStringLiteral("entry %1 in %2 now dials %3 (%4)").arg(name, path, number, how)};
}

} // namespace PhonebookRewrite
