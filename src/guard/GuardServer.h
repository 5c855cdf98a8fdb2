#pragma once

#include "guard/Authority.h"

#include <QHash>
#include <QJsonObject>
#include <QLocalServer>
#include <QObject>

class QLocalSocket;

// The guard's socket: accepts the displays and whatever else connects, reads their requests one
// line at a time and hands each on once the last one was answered, and sends the events. Each
// client's identity comes from the kernel (SO_PEERCRED), never from what it says. A client that
// breaks the limits is dropped; the guard goes on for the others.
class GuardServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardServer)

public:
    explicit GuardServer(QObject* parent = nullptr);
    ~GuardServer() override;

    // Listens at path, open to every user. Refuses, with the reason in why, where another guard
    // answers already; a socket that answers is never removed.
    bool listen(const QString& path, QString* why);
    QString path() const { return server_.fullServerName(); }

    // The answer to the client's request in progress; the next one it sent is handed on after it.
    void reply(quint64 client, QJsonObject answer);
    // To every client that said hello.
    void broadcast(const QJsonObject& event);
    void subscribe(quint64 client);
    // Writes out what is waiting, as far as the clients take it, before the guard ends.
    void flush();
    bool has(quint64 client) const { return clients_.contains(client); }
    int clientCount() const { return int(clients_.size()); }

signals:
    // A well-formed request of the current protocol version: "op" is a string; answer it with reply().
    void request(quint64 client, const Authority::Peer& peer, const QJsonObject& request);
    void clientGone(quint64 client);

private:
    struct Client {
        QLocalSocket* socket = nullptr;
        Authority::Peer peer;
        QJsonValue pendingId;
        bool busy = false;
        bool subscribed = false;
    };

    void accept();
    void readRequests(quint64 id);
    void send(quint64 id, const QJsonObject& message);
    void drop(quint64 id, const char* why);
    bool fullFor(uid_t uid) const;

    QLocalServer server_;
    QHash<quint64, Client> clients_;
    quint64 nextId_ = 1;
};
