#include "dialer/DialledNumber.h"

#include "dialer/DialString.h"
#include "dialer/WvdialPhonebook.h"
#include "platform/SystemHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DialledNumber {
namespace {

// A script or an options file is a few lines; a longer one could hide its dial past what is read.
constexpr qsizetype MaxFileBytes = 64 * 1024;
// pppd's "file" and "call" may name further files: a loop of them, or a file that names another
// thousands of times, must not keep the guard reading.
constexpr int MaxDepth = 8;
constexpr int MaxFiles = 32;

// The dial strings a call sends, and whether part of it could not be read.
struct Reading {
    const QSet<QByteArray>* trusted = nullptr;
    QStringList dials;
    bool unknown = false;
    int files = 0;
};

// A file as the process sees it. Not through a link as its last name, never a FIFO or a device
// that would keep the guard waiting, never more than MaxFileBytes.
// The file-system uid and gid a process opens files with, from its status.
std::optional<std::pair<uid_t, gid_t>> fileIds(pid_t pid) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    long uid = -1, gid = -1;
    for (const QByteArray& line : file.read(MaxFileBytes).split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() == 5 && f.front() == "Uid:")
            uid = f.at(4).toLong();
        else if (f.size() == 5 && f.front() == "Gid:")
            gid = f.at(4).toLong();
    }
    return uid >= 0 && gid >= 0 ? std::optional(std::pair(uid_t(uid), gid_t(gid))) : std::nullopt;
}

// This thread's file-system ids set to another's while it lives: root reads what a process names
// with that process's rights, never through a user's link into a file only root may read.
class ReadingAs final {
public:
    explicit ReadingAs(std::pair<uid_t, gid_t> ids)
        : m_gid(gid_t(::setfsgid(ids.second))), m_uid(uid_t(::setfsuid(ids.first))),
          m_ok(uid_t(::setfsuid(ids.first)) == ids.first && gid_t(::setfsgid(ids.second)) == ids.second) {}
    ~ReadingAs() {
        ::setfsuid(m_uid);
        ::setfsgid(m_gid);
    }
    Q_DISABLE_COPY_MOVE(ReadingAs)
    bool ok() const { return m_ok; }

private:
    gid_t m_gid;
    uid_t m_uid;
    bool m_ok;
};

std::optional<QByteArray> readAs(pid_t pid, const QString& path) {
    if (path.isEmpty() || pid <= 0)
        return std::nullopt;
    const auto ids = fileIds(pid);
    if (!ids)
        return std::nullopt;
    const ReadingAs reading(*ids);
    if (!reading.ok())
        return std::nullopt;
    const QByteArray full = "/proc/" + QByteArray::number(pid) + (path.startsWith(u'/') ? "/root" : "/cwd/") +
                            QFile::encodeName(path);
    // Looked at before it is opened: a root open of a device node acts on it (the modem raises
    // DTR, a watchdog starts), and the process names whatever it likes.
    const int at = ::open(full.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (at < 0)
        return std::nullopt;
    struct stat info {};
    const bool regular = ::fstat(at, &info) == 0 && S_ISREG(info.st_mode);
    const int fd = regular ? ::open(("/proc/self/fd/" + QByteArray::number(at)).constData(),
                                    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                           : -1;
    ::close(at);
    if (fd < 0)
        return std::nullopt;
    // One byte past the bound tells a file that is too long from one that just fits.
    bool whole = false;
    const QByteArray out = Subs::ReadSmallFile(fd, MaxFileBytes + 1, &whole);
    ::close(fd);
    return whole ? std::optional(out) : std::nullopt;
}

enum class Lexer { Chat, Options, Shell };

// Words as chat (its escapes kept for later), pppd and sh split them. sh's operators and
// expansions set special: what such a command runs cannot be told from its words.
QStringList words(const QString& text, Lexer lexer, bool* special = nullptr) {
    QStringList out;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (text.at(i).isSpace()) {
            // A second command on a line of its own.
            if (lexer == Lexer::Shell && special && text.at(i) == u'\n')
                *special = true;
            ++i;
            continue;
        }
        // chat takes "#" for a comment at the start of a line only.
        qsizetype before = i;
        while (before > 0 && text.at(before - 1).isSpace() && text.at(before - 1) != u'\n')
            --before;
        if (text.at(i) == u'#' && (lexer != Lexer::Chat || before == 0 || text.at(before - 1) == u'\n')) {
            while (i < n && text.at(i) != u'\n')
                ++i;
            continue;
        }
        QString word;
        QChar quote;
        for (; i < n && (!quote.isNull() || !text.at(i).isSpace()); ++i) {
            const QChar c = text.at(i);
            if (quote.isNull() && (c == u'\'' || c == u'"')) {
                quote = c;
            } else if (c == quote) {
                quote = QChar();
            } else if (c == u'\\' && i + 1 < n && !(lexer == Lexer::Shell && quote == u'\'')) {
                if (lexer == Lexer::Chat)
                    word += c;
                word += text.at(++i);
            } else {
                if (lexer == Lexer::Shell && special && quote != u'\'' &&
                    QStringView(quote.isNull() ? u";|&<>`$()" : u"`$").contains(c))
                    *special = true;
                word += c;
            }
        }
        out << word;
    }
    return out;
}

// What chat sends for a string: its escapes and ^X replaced, a carriage return after it unless
// it ends in \c.
QString sent(const QString& text, const QString& phone, const QString& phone2) {
    QString out;
    bool carriageReturn = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'^' && i + 1 < text.size()) {
            out += QChar(text.at(++i).unicode() & 0x1f);
        } else if (c == u'\\' && i + 1 < text.size()) {
            const QChar e = text.at(++i);
            switch (e.unicode()) {
            case 'c':
                carriageReturn = false;
                break;
            case 'd':
            case 'p':
            case 'K':
            case 'q':
            case 'N':
                break;
            case 'r':
                out += u'\r';
                break;
            case 'n':
                out += u'\n';
                break;
            case 's':
                out += u' ';
                break;
            case 'T':
                out += phone;
                break;
            case 'U':
                out += phone2;
                break;
            default:
                out += e;
            }
        } else {
            out += c;
        }
    }
    return carriageReturn ? out + u'\r' : out;
}

// The dial commands among chat's script words. Keywords take the next word for themselves;
// "expect-send-expect" sends its odd parts. A modem takes a command from the first "AT" of a line.
void readScript(const QStringList& script, const QString& phone, const QString& phone2, bool environment,
                Reading& reading) {
    static const QStringList keywords{"ABORT", "CLR_ABORT", "REPORT", "CLR_REPORT",
                                      "SAY",   "TIMEOUT",   "ECHO",   "HANGUP"};
    QString stream;
    bool expect = true;
    bool argument = false;
    for (const QString& word : script) {
        if (expect) {
            argument = keywords.contains(word);
            const QStringList parts = word.split(u'-');
            for (qsizetype p = 1; p < parts.size(); p += 2)
                stream += sent(parts.at(p), phone, phone2);
        } else if (!argument) {
            // chat reads a string that starts with "@" from a file when it runs.
            // With -E it puts variables of its environment in place of "$NAME".
            if (word.startsWith(u'@') || (environment && word.contains(u'$')))
                reading.unknown = true;
            stream += sent(word, phone, phone2);
        }
        expect = !expect;
    }
    for (const QString& line : stream.split(QRegularExpression(QStringLiteral("[\r\n]")))) {
        const qsizetype at = line.indexOf(QLatin1String("AT"), 0, Qt::CaseInsensitive);
        const QString command = at < 0 ? QString() : line.mid(at);
        const qsizetype dial = DialString::DialAt(command);
        if (dial >= 0)
            reading.dials << QStringLiteral("ATD") + command.mid(dial + 1);
    }
}

// chat [-eEvVsS] [-t timeout] [-T phone] [-U phone2] [-r report] [-f file] [script...]
void readChat(pid_t pid, const QStringList& arguments, Reading& reading) {
    QString phone, phone2, file;
    QStringList script;
    bool options = true;
    bool environment = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (options && a == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (!options || !a.startsWith(u'-') || a.size() < 2) {
            script << a;
            continue;
        }
        for (qsizetype j = 1; j < a.size(); ++j) {
            const QChar o = a.at(j);
            environment = environment || o == u'E';
            if (!QStringView(u"tTUrf").contains(o))
                continue;
            const QString value = j + 1 < a.size() ? a.mid(j + 1) : arguments.value(++i);
            if (o == u'T')
                phone = value;
            else if (o == u'U')
                phone2 = value;
            else if (o == u'f')
                file = value;
            break;
        }
    }
    if (!file.isEmpty()) {
        const auto text = ++reading.files > MaxFiles ? std::nullopt : readAs(pid, file);
        if (!text)
            reading.unknown = true;
        else
            script = words(QString::fromLocal8Bit(*text), Lexer::Chat) + script;
    }
    readScript(script, phone, phone2, environment, reading);
}

// The program a command names, as the process's sh would find it: a bare name in the folders of
// a root PATH, looked up in the process's own root.
QByteArray commandIdentity(pid_t pid, const QString& program) {
    const QByteArray root = "/proc/" + QByteArray::number(pid) + "/root";
    if (program.contains(u'/'))
        return program.startsWith(u'/') ? Identity(root + QFile::encodeName(program)) : QByteArray();
    for (const char* folder : {"/usr/local/sbin/", "/usr/local/bin/", "/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        const QByteArray found = Identity(root + folder + QFile::encodeName(program));
        if (!found.isEmpty())
            return found;
    }
    return {};
}

// A command pppd runs through sh: read when it is the real chat, unknown otherwise.
void readCommand(pid_t pid, const QString& command, Reading& reading) {
    bool special = false;
    QStringList argv = words(command, Lexer::Shell, &special);
    if (!argv.isEmpty() && argv.front() == QLatin1String("exec"))
        argv.removeFirst();
    if (special || argv.isEmpty() || QFileInfo(argv.front()).fileName() != QLatin1String("chat") ||
        !reading.trusted->contains(commandIdentity(pid, argv.front()))) {
        reading.unknown = true;
        return;
    }
    readChat(pid, argv.mid(1), reading);
}

// pppd's options in the order it takes them; "file" and "call" read their files in place.
void readOptions(pid_t pid, const QStringList& options, int depth, Reading& reading) {
    // Once part of the call is unknown, so is its number: nothing more is read.
    for (qsizetype i = 0; i < options.size() && !reading.unknown; ++i) {
        const QString& o = options.at(i);
        const bool takesValue = o == QLatin1String("file") || o == QLatin1String("call") ||
                                o == QLatin1String("connect") || o == QLatin1String("init") ||
                                o == QLatin1String("pty");
        if (!takesValue)
            continue;
        const QString value = options.value(++i);
        if (o == QLatin1String("connect") || o == QLatin1String("init")) {
            readCommand(pid, value, reading);
            continue;
        }
        if (o == QLatin1String("pty") || depth >= MaxDepth || ++reading.files > MaxFiles ||
            (o == QLatin1String("call") && value.contains(u'/'))) {
            reading.unknown = true;
            continue;
        }
        const auto text =
            readAs(pid, o == QLatin1String("call") ? QStringLiteral("/etc/ppp/peers/") + value : value);
        if (!text)
            reading.unknown = true;
        else
            readOptions(pid, words(QString::fromLocal8Bit(*text), Lexer::Options), depth + 1, reading);
    }
}

// Files pppd reads without being told, besides its command line; a missing one is no unknown.
void readOptionalOptions(pid_t pid, const QString& path, Reading& reading) {
    if (const auto text = readAs(pid, path))
        readOptions(pid, words(QString::fromLocal8Bit(*text), Lexer::Options), 1, reading);
}

// HOME as the process was started with it; empty when it has none or it cannot be read.
QString homeOf(pid_t pid, bool* readable) {
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/environ";
    QFile file(QString::fromLatin1(path));
    *readable = file.open(QIODevice::ReadOnly);
    for (const QByteArray& variable : file.read(MaxFileBytes).split('\0'))
        if (variable.startsWith("HOME="))
            return QFile::decodeName(variable.mid(5));
    return {};
}

// wvdial dials by itself, as its configuration says: one section's Dial Command and number, from
// its --config file or /etc/wvdial.conf. More than one section, or a ~/.wvdialrc it would read on
// top, is more than this reading follows.
void readWvdial(const DiallingProcess& p, Reading& reading) {
    QString config = QStringLiteral("/etc/wvdial.conf");
    QStringList sections;
    const QStringList& a = p.arguments;
    for (qsizetype i = 1; i < a.size(); ++i) {
        if (a.at(i) == u"--config" || a.at(i) == u"-C") {
            if (++i < a.size())
                config = a.at(i);
        } else if (a.at(i).startsWith(u"--config=")) {
            config = a.at(i).mid(9);
        } else if (a.at(i) == u"--remotename" || a.at(i) == u"-R") {
            ++i;
        } else if (!a.at(i).startsWith(u'-')) {
            sections << a.at(i);
        }
    }
    bool environ = false;
    const QString home = homeOf(p.pid, &environ);
    const auto text = readAs(p.pid, config);
    const auto entry =
        text ? WvdialPhonebook::parse(*text).dialledByWvdial(sections.value(0, QStringLiteral("Defaults")))
             : std::nullopt;
    if (!environ || sections.size() > 1 || !entry ||
        (!home.isEmpty() && readAs(p.pid, home + QStringLiteral("/.wvdialrc")))) {
        reading.unknown = true;
        return;
    }
    reading.dials << entry->dialCommand + entry->number;
}

QString agreed(const Reading& reading) {
    if (reading.unknown || reading.dials.isEmpty())
        return {};
    const QString number = DialString::Reduce(reading.dials.front());
    for (const QString& dial : reading.dials)
        if (DialString::Reduce(dial) != number || !DialString::OnlyDialling(dial))
            return {};
    return number.isEmpty() ? QString() : reading.dials.front();
}

} // namespace

QByteArray Identity(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return QByteArray::number(quint64(info.st_dev)) + ':' + QByteArray::number(quint64(info.st_ino));
}

QString OfCall(const QList<DiallingProcess>& processes, const QSet<QByteArray>& trusted) {
    Reading reading;
    reading.trusted = &trusted;
    for (const DiallingProcess& p : processes) {
        // What a program named like a dialler says of itself is worth nothing unless it is one.
        if (!trusted.contains(Identity("/proc/" + QByteArray::number(p.pid) + "/exe"))) {
            reading.unknown = true;
            continue;
        }
        const QStringList arguments = p.arguments.mid(1);
        if (p.program == QLatin1String("chat")) {
            readChat(p.pid, arguments, reading);
        } else if (p.program == QLatin1String("pppd")) {
            readOptionalOptions(p.pid, QStringLiteral("/etc/ppp/options"), reading);
            readOptions(p.pid, arguments, 0, reading);
            if (!p.device.isEmpty())
                readOptionalOptions(
                    p.pid, QStringLiteral("/etc/ppp/options.") + QFileInfo(p.device).fileName(), reading);
        } else if (p.program == QLatin1String("wvdial")) {
            readWvdial(p, reading);
        } else {
            reading.unknown = true;
        }
    }
    return processes.isEmpty() ? QString() : agreed(reading);
}

QString OfChatScript(const QByteArray& script, const QString& phone) {
    Reading reading;
    readScript(words(QString::fromLocal8Bit(script), Lexer::Chat), phone, {}, false, reading);
    return agreed(reading);
}

} // namespace DialledNumber
