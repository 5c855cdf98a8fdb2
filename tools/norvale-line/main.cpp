// norvale-line: dials an entry through the guard, on whichever line it runs ("guard.sock" in the
// run folder), and plays another program on this machine against the built-in line of a running
// Norvale, through the owner-only socket "line.sock" there.

#include "PhonebookRewrite.h"
#include "guard/GuardProtocol.h"
#include "platform/CommandLine.h"
#include "platform/InstallFolders.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QStringList>

#include <cstdio>

namespace {

enum Exit { Ok = 0, NotRunning = 1, BadCommand = 2, Failed = 3 };

constexpr int AnswerTimeoutMs = 10000;

// dial's exit statuses.
enum Dialled { Connected = 0, HungUp = 1, Refused = 2 };

const char* const Usage =
    "usage: norvale-line [--guard-socket PATH] dial NAME\n"
    "       norvale-line [--socket PATH] COMMAND\n"
    "       norvale-line --help | --version\n"
    "  dial NAME                the guard dials entry NAME and tells how the call went, on\n"
    "                           either line (--guard-socket: the guard's socket, by default\n"
    "                           guard.sock in the run folder, /run/norvale when installed in /usr)\n"
    "On the built-in line (--socket: its socket, by default line.sock in the run folder):\n"
    "  call NAME [--number N]   another program places a call on entry NAME\n"
    "  drop                     the line drops\n"
    "  error CODE               the modem reports error CODE (1 to 32767)\n"
    "  rewrite NAME NUMBER [--phonebook PATH]\n"
    "                           another program gives entry NAME the number NUMBER\n"
    "  status                   prints the line and its calls as JSON\n"
    "Exit status of dial: 0 connected, 1 hung up or failed, 2 refused or not asked (a bad\n"
    "command, the guard not running).\n"
    "Of the others: 0 done, 1 Norvale is not running, 2 bad command, 3 refused or failed.\n";

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int bad(const QString& why) {
    return CommandLine::Wrong("norvale-line", why, Usage);
}

enum class Reached { Yes, NotRunning, Refused };

// Connects to the socket at path. When nobody listens there, "WHO is not running (...)" says why on
// standard error; kind names the socket in that line. A socket this user may not use is a refusal,
// which the caller tells.
Reached reach(QLocalSocket& socket, const QString& path, const QString& who, const QString& kind) {
    socket.connectToServer(path);
    if (socket.waitForConnected(AnswerTimeoutMs))
        return Reached::Yes;
    if (socket.error() == QLocalSocket::SocketAccessError)
        return Reached::Refused;
    const QString why = socket.error() == QLocalSocket::ServerNotFoundError
                            ? QStringLiteral("no %1 at %2").arg(kind, path)
                            : QStringLiteral("%1: %2").arg(path, socket.errorString());
    print(stderr, QStringLiteral("norvale-line: %1 is not running (%2).").arg(who, why));
    return Reached::NotRunning;
}

QString refusedSocket(const QString& path) {
    return QStringLiteral("this user may not use %1 (permission denied)").arg(path);
}

// Sends one request and reads its one-line answer; the exit status says how it went.
int ask(const QString& socketPath, const QJsonObject& request, QJsonObject& reply) {
    QLocalSocket socket;
    switch (reach(socket, socketPath, QStringLiteral("Norvale"), QStringLiteral("control socket"))) {
    case Reached::Yes:
        break;
    case Reached::NotRunning:
        return NotRunning;
    case Reached::Refused:
        print(stderr, QStringLiteral("norvale-line: refused: ") + refusedSocket(socketPath));
        return Failed;
    }
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(AnswerTimeoutMs) && socket.bytesAvailable() == 0) {
            print(stderr, QStringLiteral("norvale-line: Norvale did not answer on %1.").arg(socketPath));
            return NotRunning;
        }
        answer += socket.readAll();
    }
    reply = QJsonDocument::fromJson(answer.left(answer.indexOf('\n'))).object();
    if (reply.value(QStringLiteral("bad_request")).toBool())
        return bad(reply.value(QStringLiteral("message")).toString());
    if (!reply.value(QStringLiteral("ok")).toBool()) {
        print(stderr, QStringLiteral("norvale-line: ") + reply.value(QStringLiteral("message")).toString());
        return Failed;
    }
    return Ok;
}

// Asks the guard to dial the entry and waits for the call's outcome, however long it takes: a
// dial waits for the far end. Ending this program while it waits hangs the call up.
int dial(const QString& guardPath, const QString& entry) {
    namespace P = GuardProtocol;
    QLocalSocket socket;
    switch (reach(socket, guardPath, QStringLiteral("the guard"), QStringLiteral("socket"))) {
    case Reached::Yes:
        break;
    case Reached::NotRunning:
        return Refused;
    case Reached::Refused:
        print(stdout, QStringLiteral("refused: ") + refusedSocket(guardPath));
        return Refused;
    }
    socket.write(P::Line({{QStringLiteral("v"), P::Version},
                          {QStringLiteral("id"), 1},
                          {QStringLiteral("op"), P::Op::DialEntry},
                          {QStringLiteral("name"), entry}}));
    QJsonObject reply;
    while (reply.isEmpty()) {
        if (!socket.canReadLine() && !socket.waitForReadyRead(-1) && !socket.canReadLine()) {
            print(stdout,
                  QStringLiteral("failed: %1: the guard went away before the call's outcome").arg(entry));
            return HungUp;
        }
        while (reply.isEmpty() && socket.canReadLine()) {
            const QJsonObject line = QJsonDocument::fromJson(socket.readLine()).object();
            // A connection the guard turns away at once is answered without an id.
            if (line.value(QStringLiteral("id")).toInt() == 1 || !line.contains(QStringLiteral("id")))
                reply = line;
        }
    }
    const QString message = reply.value(QStringLiteral("message")).toString();
    if (!reply.value(QStringLiteral("ok")).toBool()) {
        if (reply.value(QStringLiteral("error")).toString() == P::Error::Stopped) {
            print(stdout, QStringLiteral("failed: %1: %2").arg(entry, message));
            return HungUp;
        }
        print(stdout, QStringLiteral("refused: ") + message);
        return Refused;
    }
    const QString result = reply.value(QStringLiteral("result")).toString();
    const QString name = reply.value(QStringLiteral("entry")).toString(entry);
    if (result == P::Outcome::Connected) {
        print(stdout, QStringLiteral("connected: ") + name);
        return Connected;
    }
    const bool hungUp = result == P::Outcome::HungUp;
    QString line = QStringLiteral("%1: %2 (error %3)")
                       .arg(hungUp ? QStringLiteral("hung up") : QStringLiteral("failed"), name)
                       .arg(reply.value(QStringLiteral("code")).toInt());
    const QString why = reply.value(hungUp ? QStringLiteral("reason") : QStringLiteral("text")).toString();
    if (!why.isEmpty())
        line += QStringLiteral(": ") + why;
    print(stdout, line);
    return HungUp;
}

bool plainText(const QString& text) {
    return !text.isEmpty() && !text.contains(u'\n') && !text.contains(u'\r') && !text.contains(u'\0');
}

} // namespace

int main(int argc, char* argv[]) {
    const QStringList words = CommandLine::Arguments(argc, argv);
    QCoreApplication app(argc, argv);

    // Options may stand anywhere; each takes the word after it.
    const QString runFolder = InstallFolders::OfThisProgram().run;
    QString socketPath = runFolder + QStringLiteral("/line.sock");
    QString guardPath = runFolder + u'/' + QLatin1String(GuardProtocol::SocketName);
    bool socketGiven = false;
    bool guardGiven = false;
    QString number;
    bool numberGiven = false;
    QString phonebook;
    QStringList args;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words.at(i);
        if (word == u"--help" || word == u"-h")
            return CommandLine::Help(Usage);
        if (word == u"--version")
            return CommandLine::Version("norvale-line");
        if (word == u"--socket" || word == u"--guard-socket" || word == u"--number" || word == u"--phonebook") {
            if (i + 1 >= words.size())
                return bad(word + QStringLiteral(" needs a value"));
            const QString value = words.at(++i);
            // QLocalSocket takes a name without a leading slash as one in the temporary folder.
            if (word == u"--socket") {
                socketPath = QFileInfo(value).absoluteFilePath();
                socketGiven = true;
            } else if (word == u"--guard-socket") {
                guardPath = QFileInfo(value).absoluteFilePath();
                guardGiven = true;
            } else if (word == u"--number") {
                number = value;
                numberGiven = true;
            } else {
                phonebook = value;
            }
            continue;
        }
        if (word.startsWith(u"--"))
            return bad(QStringLiteral("unknown option ") + word);
        args.append(word);
    }
    if (args.isEmpty())
        return bad(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (numberGiven && command != u"call")
        return bad(QStringLiteral("--number belongs to call"));
    if (!phonebook.isEmpty() && command != u"rewrite")
        return bad(QStringLiteral("--phonebook belongs to rewrite"));
    // The guard's socket and the built-in line's are not to be mistaken for each other.
    if (guardGiven != (command == u"dial") && (guardGiven || socketGiven))
        return bad(guardGiven ? QStringLiteral("--guard-socket belongs to dial")
                              : QStringLiteral("dial talks to the guard: its socket is given with --guard-socket"));

    QJsonObject reply;
    if (command == u"dial") {
        if (args.size() != 1 || !plainText(args.front()))
            return bad(QStringLiteral("dial takes one entry name"));
        return dial(guardPath, args.front());
    }
    if (command == u"call") {
        if (args.size() != 1 || !plainText(args.front()))
            return bad(QStringLiteral("call takes one entry name"));
        if (numberGiven && number.contains(u'\n'))
            return bad(QStringLiteral("the number must be one line"));
        QJsonObject request{{QStringLiteral("command"), QStringLiteral("dial")},
                            {QStringLiteral("entry"), args.front()}};
        if (numberGiven)
            request.insert(QStringLiteral("number"), number);
        const int result = ask(socketPath, request, reply);
        if (result == Ok)
            print(stdout, reply.value(QStringLiteral("message")).toString());
        return result;
    }
    if (command == u"drop" || command == u"status") {
        if (!args.isEmpty())
            return bad(command + QStringLiteral(" takes no arguments"));
        const int result = ask(socketPath, {{QStringLiteral("command"), command}}, reply);
        if (result == Ok && command == u"status") {
            const QJsonObject status = reply.value(QStringLiteral("status")).toObject();
            print(stdout, QString::fromUtf8(QJsonDocument(status).toJson(QJsonDocument::Compact)));
        } else if (result == Ok) {
            print(stdout, reply.value(QStringLiteral("message")).toString());
        }
        return result;
    }
    if (command == u"error") {
        bool ok = false;
        const int code = args.size() == 1 ? args.front().toInt(&ok) : 0;
        if (!ok || code < 1 || code > 32767)
            return bad(QStringLiteral("error takes one code from 1 to 32767"));
        const int result =
            ask(socketPath, {{QStringLiteral("command"), command}, {QStringLiteral("code"), code}}, reply);
        if (result == Ok)
            print(stdout, reply.value(QStringLiteral("message")).toString());
        return result;
    }
    if (command == u"rewrite") {
        if (args.size() != 2 || !plainText(args.at(0)) || !plainText(args.at(1)) || args.at(0).contains(u']'))
            return bad(QStringLiteral("rewrite takes an entry name and a number"));
        if (phonebook.isEmpty()) {
            const int result =
                ask(socketPath, {{QStringLiteral("command"), QStringLiteral("phonebook")}}, reply);
            if (result != Ok)
                return result;
            phonebook = reply.value(QStringLiteral("phonebook")).toString();
            if (phonebook.isEmpty()) {
                print(stderr, QStringLiteral("norvale-line: Norvale has no phonebook."));
                return Failed;
            }
        }
        const PhonebookRewrite::Result result = PhonebookRewrite::rewrite(phonebook, args.at(0), args.at(1));
        print(result.done ? stdout : stderr,
              (result.done ? QStringLiteral("Rewritten: ") : QStringLiteral("Not rewritten: ")) +
                  result.message);
        return result.done ? Ok : Failed;
    }
    return bad(QStringLiteral("unknown command ") + command);
}
