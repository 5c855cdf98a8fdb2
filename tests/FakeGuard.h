#pragma once

#include "guard/GuardProtocol.h"

#include <QDir>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStringList>
#include <QTest>

#include <functional>

// A guard the test plays: it listens on guard.sock in a folder, writes every request it gets to a
// log as "op {arguments}", answers each with what the test set for its op (a plain success
// otherwise) and sends the events the test gives it.
class FakeGuard final : public QObject {
public:
    explicit FakeGuard(const QString& folder)
        : path_(QDir(folder).filePath(QLatin1String(GuardProtocol::SocketName))) {
        // The call is shown only when "connected" is true.
        const char* hello = R"({"start_color": 255, "end_color": 65535, "top": 10, "left": 100,
                                "phonebook": "/etc/wvdial.conf", "connected": false, "entry": "Provider",
                                "ip": "10.64.0.9", "speed_up": 10, "speed_down": 14})";
        answers[QStringLiteral("hello")] = QJsonDocument::fromJson(hello).object();
        QObject::connect(&server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = server_.nextPendingConnection()) {
                clients_ << socket;
                QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
        listen();
    }

    void listen() {
        QLocalServer::removeServer(path_);
        server_.listen(path_);
    }

    // The guard goes away: every connection ends and nobody answers any more.
    void close() {
        server_.close();
        qDeleteAll(clients_);
        clients_.clear();
    }

    void send(QLatin1StringView event, QJsonObject fields = {}) {
        fields.insert(QStringLiteral("v"), GuardProtocol::Version);
        fields.insert(QStringLiteral("event"), event);
        for (QLocalSocket* socket : std::as_const(clients_)) {
            if (socket && socket->state() == QLocalSocket::ConnectedState)
                socket->write(GuardProtocol::Line(fields));
        }
    }

    // Lets the event loop run until the condition holds; false after two seconds.
    static bool until(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 2000); }
    // Waits for the request, given as it shows in the log.
    bool received(const QString& request) {
        return until([&] { return requests.contains(request); });
    }

    QStringList requests;
    QHash<QString, QJsonObject> answers;
    // Consulted first; an empty answer leaves it to answers.
    std::function<QJsonObject(const QString& op, const QJsonObject& request)> respond;

private:
    void serve(QLocalSocket* socket) {
        while (socket->canReadLine()) {
            QJsonObject request = QJsonDocument::fromJson(socket->readLine()).object();
            const QJsonValue id = request.take(QStringLiteral("id"));
            request.remove(QStringLiteral("v"));
            const QString op = request.take(QStringLiteral("op")).toString();
            const QByteArray arguments = QJsonDocument(request).toJson(QJsonDocument::Compact);
            if (op != u"hello" && op != u"counters")
                requests << (request.isEmpty() ? op : op + u' ' + QString::fromUtf8(arguments));
            QJsonObject reply = respond ? respond(op, request) : QJsonObject();
            if (reply.isEmpty())
                reply = answers.value(op);
            if (!reply.contains(QStringLiteral("ok")))
                reply.insert(QStringLiteral("ok"), true);
            reply.insert(QStringLiteral("id"), id);
            reply.insert(QStringLiteral("v"), GuardProtocol::Version);
            socket->write(GuardProtocol::Line(reply));
        }
    }

    QString path_;
    QLocalServer server_;
    QList<QPointer<QLocalSocket>> clients_;
};
