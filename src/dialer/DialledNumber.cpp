#include "dialer/DialledNumber.h"

#include "dialer/DialString.h"
#include "dialer/ForeignFiles.h"
#include "dialer/WvdialPhonebook.h"
#include "modem/AllowedPrograms.h"

#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QRegularExpression>

#include <optional>

#include <sys/stat.h>

namespace DialledNumber {
namespace {

// pppd's "file" and "call" may name further files: a loop of them, or a file that names another
// thousands of times, must not keep the guard reading.
constexpr int MaxDepth = 8;
constexpr int MaxFiles = 32;

// The dial strings a call sends, and whether part of it could not be read. What the processes name
// comes from answers; a look not made yet is wanted, for the next pass.
struct Reading {
    const QSet<QByteArray>* trusted = nullptr;
    const Answers* answers = nullptr;
    QList<Look> wanted;
    QStringList dials;
    bool unknown = false;
    int files = 0;
};

// What a look at the process's files found; nothing when it could not be made or is still to be
// made (later is set then).
std::optional<QByteArray> look(Reading& reading, pid_t pid, const QString& path, bool identity, bool* later) {
    *later = false;
    if (path.isEmpty() || pid <= 0)
        return std::nullopt;
    const Look key{pid, path, identity};
    const auto it = reading.answers->constFind(key);
    if (it != reading.answers->cend())
        return *it;
    if (!reading.wanted.contains(key))
        reading.wanted << key;
    *later = true;
    return std::nullopt;
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
        bool later = false;
        const auto text = ++reading.files > MaxFiles ? std::nullopt : look(reading, pid, file, false, &later);
        // Nothing of the script can be told before its file is read.
        if (later)
            return;
        if (!text)
            reading.unknown = true;
        else
            script = words(QString::fromLocal8Bit(*text), Lexer::Chat) + script;
    }
    readScript(script, phone, phone2, environment, reading);
}

// The program a command names, as the process's sh would find it: a bare name in the folders of
// a root PATH, looked up in the process's own root. Every folder is asked at once; the first that
// has it counts.
QByteArray commandIdentity(pid_t pid, const QString& program, Reading& reading, bool* later) {
    *later = false;
    if (program.contains(u'/'))
        return program.startsWith(u'/') ? look(reading, pid, program, true, later).value_or(QByteArray())
                                        : QByteArray();
    for (const char* folder : {"/usr/local/sbin/", "/usr/local/bin/", "/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        bool wait = false;
        const auto found = look(reading, pid, QLatin1String(folder) + program, true, &wait);
        *later = *later || wait;
        if (found && !found->isEmpty())
            return *later ? QByteArray() : *found;
    }
    return {};
}

// A command pppd runs through sh: read when it is the real chat, unknown otherwise.
void readCommand(pid_t pid, const QString& command, Reading& reading) {
    bool special = false;
    QStringList argv = words(command, Lexer::Shell, &special);
    if (!argv.isEmpty() && argv.front() == QLatin1String("exec"))
        argv.removeFirst();
    if (special || argv.isEmpty() || QFileInfo(argv.front()).fileName() != QLatin1String("chat")) {
        reading.unknown = true;
        return;
    }
    bool later = false;
    const QByteArray program = commandIdentity(pid, argv.front(), reading, &later);
    if (later)
        return;
    if (!reading.trusted->contains(program)) {
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
        bool later = false;
        const auto text = look(reading, pid,
                               o == QLatin1String("call") ? QStringLiteral("/etc/ppp/peers/") + value : value,
                               false, &later);
        if (later)
            continue;
        if (!text)
            reading.unknown = true;
        else
            readOptions(pid, words(QString::fromLocal8Bit(*text), Lexer::Options), depth + 1, reading);
    }
}

// Files pppd reads without being told, besides its command line; a missing one is no unknown.
void readOptionalOptions(pid_t pid, const QString& path, Reading& reading) {
    bool later = false;
    if (const auto text = look(reading, pid, path, false, &later))
        readOptions(pid, words(QString::fromLocal8Bit(*text), Lexer::Options), 1, reading);
}

// HOME as the process was started with it; empty when it has none or it cannot be read.
QString homeOf(pid_t pid, bool* readable) {
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/environ";
    QFile file(QString::fromLatin1(path));
    *readable = file.open(QIODevice::ReadOnly);
    for (const QByteArray& variable : file.read(ForeignFiles::MaxFileBytes).split('\0'))
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
    bool later = false, laterRc = false;
    const auto text = look(reading, p.pid, config, false, &later);
    const auto rc = home.isEmpty() ? std::nullopt
                                   : look(reading, p.pid, home + QStringLiteral("/.wvdialrc"), false, &laterRc);
    if (later || laterRc)
        return;
    const auto entry =
        text ? WvdialPhonebook::parse(*text).dialledByWvdial(sections.value(0, QStringLiteral("Defaults")))
             : std::nullopt;
    if (!environ || sections.size() > 1 || !entry || rc) {
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

size_t qHash(const Look& look, size_t seed) {
    return qHashMulti(seed, look.pid, look.path, look.identity);
}

Pass Evaluate(const QList<DiallingProcess>& processes, const QSet<QByteArray>& trusted, const Answers& answers) {
    Reading reading;
    reading.trusted = &trusted;
    reading.answers = &answers;
    for (const DiallingProcess& p : processes) {
        // What a program named like a dialler says of itself is worth nothing unless it is one.
        const auto exe = ExecutableOf(p.pid);
        if (!exe || !trusted.contains(QByteArray::number(quint64(exe->dev)) + ':' +
                                      QByteArray::number(quint64(exe->ino)))) {
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
    // Once part of the call is unknown, nothing more read can make its number known.
    if (reading.unknown || processes.isEmpty())
        return {};
    return {reading.wanted.isEmpty() ? agreed(reading) : QString(), reading.wanted};
}

QString OfChatScript(const QByteArray& script, const QString& phone) {
    Reading reading;
    readScript(words(QString::fromLocal8Bit(script), Lexer::Chat), phone, {}, false, reading);
    return agreed(reading);
}

} // namespace DialledNumber
