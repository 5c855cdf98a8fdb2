#pragma once

#include "guard/Authority.h"
#include "guard/LogLimit.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>

#include <functional>
#include <map>
#include <memory>

class QLocalServer;
class QTimer;
class QSocketNotifier;

// The guard's socket: accepts the displays and whatever else connects, reads their requests one
// line at a time and hands each on as it comes, and sends the answers and the events. Each
// client's identity comes from the kernel (SO_PEERCRED), never from what it says. A client that
// breaks the limits is dropped; the guard goes on for the others. Connections are plain
// non-blocking descriptors, so that a client that only stops sending still gets its answers.
class GuardServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardServer)

public:
    // How often a client that sends no more is looked at for having gone for good.
    static constexpr int HangUpCheckMs = 1000;

    explicit GuardServer(QObject* parent = nullptr);
    ~GuardServer() override;

    // Whose connections have room of their own, past the one all users share: root's always, and
    // those of the users administrator() names.
    void keepRoomFor(std::function<bool(uid_t uid)> administrator) {
        administrator_ = std::move(administrator);
    }
    // Listens at path, open to every user. Refuses, with the reason in why, where another guard
    // answers already; a socket that answers is never removed.
    bool listen(const QString& path, QString* why);
    QString path() const;

    // The answer to the client's request of that id (a request without one: undefined).
    void reply(quint64 client, const QJsonValue& id, QJsonObject answer);
    // To every client that said hello.
    void broadcast(const QJsonObject& event);
    // To one client that said hello.
    void tell(quint64 client, const QJsonObject& event);
    void subscribe(quint64 client);
    // Writes out what is waiting, as far as the clients take it within a moment, before the guard ends.
    void flush();
    bool has(quint64 client) const { return clients_.count(client) != 0; }
    int clientCount() const { return int(clients_.size()); }

signals:
    // A well-formed request of the current protocol version: "op" is a string; answer it with reply(),
    // now or later.
    void request(quint64 client, const Authority::Peer& peer, const QJsonObject& request);
    void clientGone(quint64 client);

private:
    class Listener;
    struct Client {
        int fd = -1;
        Authority::Peer peer;
        QByteArray in;
        QByteArray out;
        QSocketNotifier* reader = nullptr;
        QSocketNotifier* writer = nullptr;
        // Handed on and not answered yet: a client that stops sending still gets those answers.
        int unanswered = 0;
        bool subscribed = false;
        bool peerClosed = false;
        // Closed for good, not only for sending.
        bool hungUp = false;
        bool readLater = false;
        // Root's or an administrator's: not counted against MaxClients.
        bool ownRoom = false;
    };

    void accept(int fd);
    void onReadable(quint64 id);
    void readRequests(quint64 id);
    void watchHangUps();
    void send(quint64 id, const QJsonObject& message);
    void writeOut(quint64 id);
    void closeIfDone(quint64 id);
    void drop(quint64 id, const char* why);
    bool fullFor(uid_t uid, bool ownRoom) const;
    Client* find(quint64 id);

    std::unique_ptr<Listener> server_;
    std::map<quint64, Client> clients_;
    QTimer* hangUps_;
    std::function<bool(uid_t uid)> administrator_ = [](uid_t) { return false; };
    LogLimit log_;
    quint64 nextId_ = 1;
};
