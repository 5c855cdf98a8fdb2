#include "dialer/PppCallFiles.h"

#include "platform/SystemHelpers.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Seconds chat waits for each init answer, and for the far end to pick up after dialling.
constexpr int InitTimeout = 5;
constexpr int DialTimeout = 60;
// A record is a few short lines; anything longer is not one.
constexpr qsizetype MaxRecordBytes = 4096;
const QString FolderPrefix = QStringLiteral("call-");

bool writePrivateFile(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = Subs::WriteAll(fd, bytes);
    return ::close(fd) == 0 && written;
}


// A pppd options-file word: double quotes, backslash escapes for the quote, the backslash and
// the control characters that would otherwise end or bend the word.
QString optionsQuoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

} // namespace

PppCallFiles::PppCallFiles(const PhonebookEntry& entry, const QString& chatProgram, const QString& runFolder)
    : m_entry(entry), m_chat(chatProgram) {
    QByteArray pattern =
        QFile::encodeName(runFolder + QLatin1Char('/') + FolderPrefix + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return;
    m_folder = QFile::decodeName(pattern);
    m_valid = writePrivateFile(scriptPath(), chatScript(entry).toUtf8()) &&
              writePrivateFile(optionsPath(), optionsText(entry).toUtf8());
}

PppCallFiles::PppCallFiles(const QString& folder) : m_folder(folder), m_valid(true) {}

QString PppCallFiles::filePath(const char* name) const {
    return m_folder + QLatin1Char('/') + QLatin1String(name);
}

QString PppCallFiles::scriptPath() const {
    return filePath("chat");
}

QString PppCallFiles::optionsPath() const {
    return filePath("options");
}

QString PppCallFiles::logPath() const {
    return filePath("pppd.log");
}

QString PppCallFiles::recordPath() const {
    return filePath("call");
}

void PppCallFiles::remove() {
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
    m_valid = false;
}

int PppCallFiles::createLog() const {
    if (m_folder.isEmpty())
        return -1;
    return ::open(QFile::encodeName(logPath()).constData(),
                  O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
}

bool PppCallFiles::writeRecord(const Record& record) const {
    if (m_folder.isEmpty())
        return false;
    const QString text = QStringLiteral("pid=%1\nstart=%2\ndial=%3\nentry=%4\n")
                             .arg(record.pid)
                             .arg(record.startTime)
                             .arg(record.dialCommand, record.entry);
    // Whole or not at all: a guard that dies while writing leaves no half record behind.
    const QString temporary = recordPath() + QStringLiteral(".new");
    const QByteArray from = QFile::encodeName(temporary);
    ::unlink(from.constData());
    return writePrivateFile(temporary, text.toUtf8()) &&
           ::rename(from.constData(), QFile::encodeName(recordPath()).constData()) == 0;
}

std::optional<PppCallFiles::Record> PppCallFiles::readRecord() const {
    const QByteArray bytes = Subs::ReadSmallFile(QFile::encodeName(recordPath()).constData(), MaxRecordBytes + 1);
    if (bytes.isEmpty() || bytes.size() > MaxRecordBytes)
        return std::nullopt;
    Record record;
    bool pidSeen = false;
    bool startSeen = false;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1);
        if (key == "pid")
            record.pid = static_cast<pid_t>(value.toInt(&pidSeen));
        else if (key == "start")
            record.startTime = value.toULongLong(&startSeen);
        else if (key == "dial")
            record.dialCommand = QString::fromUtf8(value);
        else if (key == "entry")
            record.entry = QString::fromUtf8(value);
    }
    if (!pidSeen || !startSeen || record.pid <= 1)
        return std::nullopt;
    return record;
}

QStringList PppCallFiles::callFolders(const QString& runFolder) {
    QStringList out;
    const QDir dir(runFolder);
    for (const QString& name : dir.entryList({FolderPrefix + QLatin1Char('*')},
                                             QDir::Dirs | QDir::NoSymLinks | QDir::Hidden, QDir::Name))
        out << dir.filePath(name);
    return out;
}

std::optional<quint64> PppCallFiles::startTimeOf(pid_t pid) {
    const std::optional<Subs::ProcessStat> stat = Subs::ReadProcessStat(pid);
    // A zombie or a dead process is no running call.
    if (!stat || stat->state == 'Z' || stat->state == 'X')
        return std::nullopt;
    return stat->startTime;
}

QString PppCallFiles::chatQuoted(const QString& text) {
    QString out = QStringLiteral("'");
    for (const QChar c : text) {
        // A string that starts with "@" (chat would send the file it names) is refused before this.
        if (c == QLatin1Char('\'') || c == QLatin1Char('\\') || c == QLatin1Char('^'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('\'');
    return out;
}

QString PppCallFiles::shellQuoted(const QString& text) {
    QString out = text;
    out.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QString PppCallFiles::chatScript(const PhonebookEntry& entry) {
    QString s;
    s += QStringLiteral("TIMEOUT %1\n").arg(InitTimeout);
    for (const char* abort : {"BUSY", "NO CARRIER", "NO DIALTONE", "NO DIAL TONE", "NO ANSWER", "ERROR"})
        s += QStringLiteral("ABORT ") + chatQuoted(QString::fromLatin1(abort)) + QLatin1Char('\n');
    QString expect = QStringLiteral("''");
    for (const QString& init : entry.inits) {
        s += expect + QLatin1Char(' ') + chatQuoted(init) + QLatin1Char('\n');
        expect = QStringLiteral("OK");
    }
    const QString dial = entry.dialCommand.isEmpty() ? QStringLiteral("ATDT") : entry.dialCommand;
    s += QStringLiteral("TIMEOUT %1\n").arg(DialTimeout);
    s += expect + QLatin1Char(' ') + chatQuoted(dial + entry.number) + QLatin1Char('\n');
    s += QStringLiteral("CONNECT ''\n");
    return s;
}

// pppd uses the first 255 bytes of a password and drops the rest unsaid; but a word over 1023 bytes
// it cuts with a warning that quotes the word's first 20 characters into the call's log. Cut here,
// in whole characters.
QString PppCallFiles::optionsText(const PhonebookEntry& entry) {
    QByteArray password = entry.password.toUtf8();
    qsizetype end = std::min<qsizetype>(password.size(), 255);
    while (end < password.size() && (password.at(end) & 0xC0) == 0x80)
        --end;
    password.truncate(end);
    if (password.isEmpty())
        return {};
    return QStringLiteral("password ") + optionsQuoted(QString::fromUtf8(password)) + QLatin1Char('\n');
}

QString PppCallFiles::connectCommand() const {
    // -S: chat's lines reach the guard's log through pppd's, not syslog as well.
    return shellQuoted(m_chat) + QStringLiteral(" -s -S -v -f ") + shellQuoted(scriptPath());
}

QStringList PppCallFiles::pppdArguments() const {
    // A device name that is not a path would be read as one of pppd's options.
    QString modem = m_entry.modem.isEmpty() ? QStringLiteral("/dev/modem") : m_entry.modem;
    if (!modem.startsWith(QLatin1Char('/')))
        modem.prepend(QStringLiteral("/dev/"));
    QStringList args{modem};
    if (m_entry.baud > 0)
        args << QString::number(m_entry.baud);
    // noauth: the ISP does not authenticate itself to us, and Debian's /etc/ppp/options asks
    // for "auth", which would refuse every dial-up provider.
    // hide-password: after /etc/ppp/options, so that no "show-password" there prints it.
    args << QStringLiteral("nodetach") << QStringLiteral("lock") << QStringLiteral("noipdefault")
         << QStringLiteral("defaultroute") << QStringLiteral("usepeerdns") << QStringLiteral("noauth")
         << QStringLiteral("hide-password");
    if (!m_entry.user.isEmpty())
        args << QStringLiteral("user") << m_entry.user;
    args << QStringLiteral("file") << optionsPath() << QStringLiteral("connect") << connectCommand();
    return args;
}
