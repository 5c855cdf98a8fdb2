// norvale-line: plays another program on this machine against the built-in line of a running
// Norvale. It talks to Norvale through the owner-only socket "line.sock" in its own folder.

#include "PhonebookRewrite.h"

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

const char* const Usage =
    "usage: norvale-line [--socket PATH] COMMAND\n"
    "  dial NAME [--number N]   another program places a call on entry NAME\n"
    "  drop                     the line drops\n"
    "  error CODE               the modem reports error CODE (1 to 32767)\n"
    "  rewrite NAME NUMBER [--phonebook PATH]\n"
    "                           another program gives entry NAME the number NUMBER\n"
    "  status                   prints the line and its calls as JSON\n"
    "Exit status: 0 done, 1 Norvale is not running, 2 bad command, 3 refused or failed.\n";

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int bad(const QString& why) {
    print(stderr, QStringLiteral("norvale-line: ") + why);
    std::fputs(Usage, stderr);
    return BadCommand;
}

// Sends one request and reads its one-line answer; the exit status says how it went.
int ask(const QString& socketPath, const QJsonObject& request, QJsonObject& reply) {
    if (!QFileInfo::exists(socketPath)) {
        print(stderr, QStringLiteral("norvale-line: Norvale is not running (no control socket at %1).")
                          .arg(socketPath));
        return NotRunning;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(AnswerTimeoutMs)) {
        print(stderr, QStringLiteral("norvale-line: Norvale is not running (%1: %2).")
                          .arg(socketPath, socket.errorString()));
        return NotRunning;
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

bool plainText(const QString& text) {
    return !text.isEmpty() && !text.contains(u'\n') && !text.contains(u'\r') && !text.contains(u'\0');
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList words = app.arguments().mid(1);

    // Options may stand anywhere; each takes the word after it.
    QString socketPath = QCoreApplication::applicationDirPath() + QStringLiteral("/line.sock");
    QString number;
    bool numberGiven = false;
    QString phonebook;
    QStringList args;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words.at(i);
        if (word == u"--help" || word == u"-h") {
            std::fputs(Usage, stdout);
            return Ok;
        }
        if (word == u"--socket" || word == u"--number" || word == u"--phonebook") {
            if (i + 1 >= words.size())
                return bad(word + QStringLiteral(" needs a value"));
            const QString value = words.at(++i);
            if (word == u"--socket") {
                // QLocalSocket takes a name without a leading slash as one in the temporary folder.
                socketPath = QFileInfo(value).absoluteFilePath();
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
    if (numberGiven && command != u"dial")
        return bad(QStringLiteral("--number belongs to dial"));
    if (!phonebook.isEmpty() && command != u"rewrite")
        return bad(QStringLiteral("--phonebook belongs to rewrite"));

    QJsonObject reply;
    if (command == u"dial") {
        if (args.size() != 1 || !plainText(args.front()))
            return bad(QStringLiteral("dial takes one entry name"));
        if (numberGiven && number.contains(u'\n'))
            return bad(QStringLiteral("the number must be one line"));
        QJsonObject request{{QStringLiteral("command"), command}, {QStringLiteral("entry"), args.front()}};
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
