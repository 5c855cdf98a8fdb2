#include "dialer/PppCallFiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Seconds chat waits for each init answer, and for the far end to pick up after dialling.
constexpr int InitTimeout = 5;
constexpr int DialTimeout = 60;

bool writePrivateFile(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += n;
    }
    return ::close(fd) == 0;
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

PppCallFiles::PppCallFiles(const PhonebookEntry& entry, const QString& chatProgram)
    : m_entry(entry), m_chat(chatProgram),
      m_dir(std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/norvale-ppp-XXXXXX"))) {
    m_valid = m_dir->isValid() && writePrivateFile(scriptPath(), chatScript(entry).toUtf8()) &&
              writePrivateFile(optionsPath(), optionsText(entry).toUtf8());
}

PppCallFiles::~PppCallFiles() = default;

QString PppCallFiles::scriptPath() const {
    return m_dir->filePath(QStringLiteral("chat"));
}

QString PppCallFiles::optionsPath() const {
    return m_dir->filePath(QStringLiteral("options"));
}

void PppCallFiles::remove() {
    m_dir->remove();
}

QString PppCallFiles::chatQuoted(const QString& text) {
    QString out = QStringLiteral("'");
    for (const QChar c : text) {
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

QString PppCallFiles::optionsText(const PhonebookEntry& entry) {
    if (entry.password.isEmpty())
        return {};
    return QStringLiteral("password ") + optionsQuoted(entry.password) + QLatin1Char('\n');
}

QString PppCallFiles::connectCommand() const {
    return shellQuoted(m_chat) + QStringLiteral(" -s -v -f ") + shellQuoted(scriptPath());
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
    args << QStringLiteral("nodetach") << QStringLiteral("lock") << QStringLiteral("noipdefault")
         << QStringLiteral("defaultroute") << QStringLiteral("usepeerdns") << QStringLiteral("noauth");
    if (!m_entry.user.isEmpty())
        args << QStringLiteral("user") << m_entry.user;
    args << QStringLiteral("file") << optionsPath() << QStringLiteral("connect") << connectCommand();
    return args;
}
