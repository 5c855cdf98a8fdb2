#include "guard/GuardServer.h"

#include "guard/GuardProtocol.h"

#include <QFile>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

constexpr qsizetype MaxSocketPathBytes = 107;

QJsonObject failure(QLatin1StringView error, const QString& message) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}, {QStringLiteral("message"), message}};
}

bool peerOf(QLocalSocket* socket, Authority::Peer& peer) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    peer.uid = credentials.uid;
    peer.pid = credentials.pid;
    // Read now, while the process that connected still runs: polkit is asked about that process.
    peer.startTime = Authority::StartTimeOf(credentials.pid);
    return true;
}

} // namespace

QByteArray GuardProtocol::Line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

GuardServer::GuardServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QLocalServer::newConnection, this, &GuardServer::accept);
}

GuardServer::~GuardServer() {
    for (Client& client : clients_)
        client.socket->disconnect(this);
    server_.close();
}

bool GuardServer::listen(const QString& path, QString* why) {
    if (QFile::encodeName(path).size() > MaxSocketPathBytes) {
        *why = QStringLiteral("the socket path is too long: %1").arg(path);
        return false;
    }
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(1000)) {
            *why = QStringLiteral("another norvale-guard answers on %1").arg(path);
            return false;
        }
    }
    // Nobody answers: what is left is a socket of a guard that ended.
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server_.listen(path)) {
        *why = QStringLiteral("cannot listen on %1: %2").arg(path, server_.errorString());
        return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                                    QFile::ReadOther | QFile::WriteOther);
    return true;
}

bool GuardServer::fullFor(uid_t uid) const {
    if (clients_.size() >= GuardProtocol::MaxClients)
        return true;
    int same = 0;
    for (const Client& client : clients_)
        same += client.peer.uid == uid ? 1 : 0;
    return same >= GuardProtocol::MaxClientsPerUid;
}

void GuardServer::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        Client client;
        client.socket = socket;
        if (!peerOf(socket, client.peer) || fullFor(client.peer.uid)) {
            socket->write(GuardProtocol::Line(failure(GuardProtocol::Error::Busy, QStringLiteral("too many connections"))));
            socket->disconnectFromServer();
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        socket->setReadBufferSize(GuardProtocol::MaxLineBytes);
        const quint64 id = nextId_++;
        clients_.insert(id, client);
        connect(socket, &QLocalSocket::readyRead, this, [this, id] { readRequests(id); });
        connect(socket, &QLocalSocket::disconnected, this, [this, id] { drop(id, nullptr); });
        connect(socket, &QLocalSocket::errorOccurred, this, [this, id](QLocalSocket::LocalSocketError error) {
            if (error != QLocalSocket::PeerClosedError)
                drop(id, nullptr);
        });
        readRequests(id);
    }
}

void GuardServer::readRequests(quint64 id) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    QLocalSocket* socket = it->socket;
    while (!it->busy && socket->canReadLine()) {
        const QByteArray line = socket->readLine(GuardProtocol::MaxLineBytes + 1);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        const QJsonObject object = document.object();
        const QJsonValue requestId = object.value(QStringLiteral("id"));
        QJsonObject refusal;
        if (!document.isObject())
            refusal = failure(GuardProtocol::Error::BadRequest, QStringLiteral("a request is one JSON object"));
        else if (object.value(QStringLiteral("v")).toInt(-1) != GuardProtocol::Version)
            refusal = failure(GuardProtocol::Error::Version,
                              QStringLiteral("this guard speaks version %1").arg(GuardProtocol::Version));
        else if (!object.value(QStringLiteral("op")).isString())
            refusal = failure(GuardProtocol::Error::BadRequest, QStringLiteral("a request names its op"));
        if (!refusal.isEmpty()) {
            if (!requestId.isUndefined())
                refusal.insert(QStringLiteral("id"), requestId);
            send(id, refusal);
            // The write may have dropped the client.
            it = clients_.find(id);
            if (it == clients_.end())
                return;
            continue;
        }
        it->busy = true;
        it->pendingId = requestId;
        const Authority::Peer peer = it->peer;
        emit request(id, peer, object);
        it = clients_.find(id);
        if (it == clients_.end())
            return;
    }
    if (!it->busy && !socket->canReadLine() && socket->bytesAvailable() >= GuardProtocol::MaxLineBytes)
        drop(id, "its request line is longer than 64 KiB");
}

void GuardServer::reply(quint64 id, QJsonObject answer) {
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->busy)
        return;
    it->busy = false;
    if (!it->pendingId.isUndefined())
        answer.insert(QStringLiteral("id"), it->pendingId);
    it->pendingId = QJsonValue(QJsonValue::Undefined);
    send(id, answer);
    // The next request, if one waits, from the event loop rather than from inside this answer.
    if (clients_.contains(id))
        QTimer::singleShot(0, this, [this, id] { readRequests(id); });
}

void GuardServer::subscribe(quint64 id) {
    if (auto it = clients_.find(id); it != clients_.end())
        it->subscribed = true;
}

void GuardServer::broadcast(const QJsonObject& event) {
    const QList<quint64> ids = clients_.keys();
    for (const quint64 id : ids) {
        const auto it = clients_.find(id);
        if (it != clients_.end() && it->subscribed)
            send(id, event);
    }
}

void GuardServer::send(quint64 id, const QJsonObject& message) {
    const auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    QJsonObject line = message;
    line.insert(QStringLiteral("v"), GuardProtocol::Version);
    it->socket->write(GuardProtocol::Line(line));
    if (it->socket->bytesToWrite() > GuardProtocol::MaxUnsentBytes)
        drop(id, "it does not read what the guard sends");
}

void GuardServer::flush() {
    for (Client& client : clients_)
        client.socket->waitForBytesWritten(100);
}

void GuardServer::drop(quint64 id, const char* why) {
    const auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    QLocalSocket* socket = it->socket;
    if (why)
        qWarning("norvale-guard: dropped the client pid %d uid %u: %s", int(it->peer.pid), unsigned(it->peer.uid), why);
    clients_.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    emit clientGone(id);
}
