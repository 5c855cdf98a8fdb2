#include "guard/GuardServer.h"

#include "guard/GuardProtocol.h"

#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace {

constexpr qsizetype MaxSocketPathBytes = 107;

QJsonObject failure(QLatin1StringView error, const QString& message) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}, {QStringLiteral("message"), message}};
}

// The start time of the process that connected; 0 once it has ended, since its pid may then name
// another process already, and polkit would be asked about that one. The kernel's handle on the
// very process that connected tells (Linux 6.5); an older kernel leaves only the pid.
quint64 startTimeOfPeer(int fd, pid_t pid) {
    int pidfd = -1;
    socklen_t size = sizeof pidfd;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &size) != 0)
        return errno == ENOPROTOOPT ? Authority::StartTimeOf(pid) : 0;
    const quint64 start = Authority::StartTimeOf(pid);
    // Still running after the read: the pid was its own while it was read.
    pollfd ended{pidfd, POLLIN, 0};
    const bool gone = ::poll(&ended, 1, 0) != 0;
    ::close(pidfd);
    return gone ? 0 : start;
}

bool peerOf(int fd, Authority::Peer& peer) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    peer.uid = credentials.uid;
    peer.pid = credentials.pid;
    peer.startTime = startTimeOfPeer(fd, credentials.pid);
    return true;
}

} // namespace

// Hands the accepted descriptors over as they are.
class GuardServer::Listener final : public QLocalServer {
public:
    explicit Listener(GuardServer& owner) : owner_(owner) {}

protected:
    void incomingConnection(quintptr socketDescriptor) override { owner_.accept(int(socketDescriptor)); }

private:
    GuardServer& owner_;
};

GuardServer::GuardServer(QObject* parent)
    : QObject(parent), server_(std::make_unique<Listener>(*this)), hangUps_(new QTimer(this)) {
    hangUps_->setInterval(HangUpCheckMs);
    hangUps_->setSingleShot(true);
    connect(hangUps_, &QTimer::timeout, this, &GuardServer::watchHangUps);
}

GuardServer::~GuardServer() {
    while (!clients_.empty())
        drop(clients_.begin()->first, nullptr);
    log_.Flush();
    server_->close();
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
    server_->setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server_->listen(path)) {
        *why = QStringLiteral("cannot listen on %1: %2").arg(path, server_->errorString());
        return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                                    QFile::ReadOther | QFile::WriteOther);
    return true;
}

QString GuardServer::path() const {
    return server_->fullServerName();
}

GuardServer::Client* GuardServer::find(quint64 id) {
    const auto it = clients_.find(id);
    return it == clients_.end() ? nullptr : &it->second;
}

bool GuardServer::fullFor(uid_t uid, bool ownRoom) const {
    int same = 0;
    int shared = 0;
    for (const auto& [id, client] : clients_) {
        same += client.peer.uid == uid ? 1 : 0;
        shared += client.ownRoom ? 0 : 1;
    }
    return same >= GuardProtocol::MaxClientsPerUid || (!ownRoom && shared >= GuardProtocol::MaxClients);
}

void GuardServer::accept(int fd) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    Client client;
    client.fd = fd;
    const bool known = peerOf(fd, client.peer);
    client.ownRoom = known && (client.peer.uid == 0 || administrator_(client.peer.uid));
    if (!known || fullFor(client.peer.uid, client.ownRoom)) {
        const QByteArray refusal =
            GuardProtocol::Line(failure(GuardProtocol::Error::Busy, QStringLiteral("too many connections")));
        (void)!::send(fd, refusal.constData(), size_t(refusal.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
        return;
    }
    const quint64 id = nextId_++;
    client.reader = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    client.writer = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    client.writer->setEnabled(false);
    connect(client.reader, &QSocketNotifier::activated, this, [this, id] { onReadable(id); });
    connect(client.writer, &QSocketNotifier::activated, this, [this, id] {
        writeOut(id);
        closeIfDone(id);
    });
    clients_.emplace(id, std::move(client));
}

void GuardServer::onReadable(quint64 id) {
    Client* client = find(id);
    if (!client)
        return;
    char chunk[16384];
    for (;;) {
        const qsizetype room = GuardProtocol::MaxLineBytes + 1 - client->in.size();
        if (room <= 0)
            break;
        const ssize_t n = ::recv(client->fd, chunk, size_t(std::min<qsizetype>(room, qsizetype(sizeof chunk))), 0);
        if (n > 0) {
            client->in.append(chunk, n);
            continue;
        }
        if (n == 0) {
            client->peerClosed = true;
            client->reader->setEnabled(false);
            watchHangUps();
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return drop(id, nullptr);
        }
        break;
    }
    readRequests(id);
    closeIfDone(id);
}

// A client that sends no more may still wait for answers, or may be gone for good: then nobody is
// left to hear them, and what waits for one (an authentication dialog) is let go.
void GuardServer::watchHangUps() {
    bool halfClosed = false;
    std::vector<quint64> ids;
    for (auto& [id, client] : clients_) {
        if (client.peerClosed && !client.hungUp) {
            pollfd hangUp{client.fd, 0, 0};
            client.hungUp = ::poll(&hangUp, 1, 0) > 0 && (hangUp.revents & POLLHUP);
        }
        halfClosed |= client.peerClosed && !client.hungUp;
        if (client.hungUp)
            ids.push_back(id);
    }
    for (const quint64 id : ids)
        closeIfDone(id);
    if (halfClosed && !hangUps_->isActive())
        hangUps_->start();
}

// One request of a client at a time, then the others' turn: a flood on one connection delays no
// other display's counters.
void GuardServer::readRequests(quint64 id) {
    Client* client = find(id);
    if (!client)
        return;
    const qsizetype end = client->in.indexOf('\n');
    if (end >= 0) {
        const QByteArray line = client->in.left(end + 1);
        client->in.remove(0, end + 1);
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
        } else {
            ++client->unanswered;
            const Authority::Peer peer = client->peer;
            emit request(id, peer, object);
        }
        // An answer may have dropped the client.
        if (!(client = find(id)))
            return;
    }
    const bool more = client->in.contains('\n');
    if (more && !std::exchange(client->readLater, true)) {
        QTimer::singleShot(0, this, [this, id] {
            if (Client* waiting = find(id)) {
                waiting->readLater = false;
                readRequests(id);
                closeIfDone(id);
            }
        });
    }
    if (!more && client->in.size() > GuardProtocol::MaxLineBytes)
        return drop(id, "its request line is longer than 64 KiB");
    client->reader->setEnabled(!client->peerClosed && !more);
}

void GuardServer::reply(quint64 id, const QJsonValue& requestId, QJsonObject answer) {
    Client* client = find(id);
    if (!client)
        return;
    client->unanswered = std::max(0, client->unanswered - 1);
    if (!requestId.isUndefined())
        answer.insert(QStringLiteral("id"), requestId);
    send(id, answer);
    closeIfDone(id);
}

void GuardServer::subscribe(quint64 id) {
    if (Client* client = find(id))
        client->subscribed = true;
}

void GuardServer::broadcast(const QJsonObject& event) {
    std::vector<quint64> ids;
    for (const auto& [id, client] : clients_) {
        if (client.subscribed)
            ids.push_back(id);
    }
    for (const quint64 id : ids)
        send(id, event);
}

void GuardServer::tell(quint64 id, const QJsonObject& event) {
    const Client* client = find(id);
    if (client && client->subscribed)
        send(id, event);
}

void GuardServer::send(quint64 id, const QJsonObject& message) {
    Client* client = find(id);
    if (!client)
        return;
    QJsonObject line = message;
    line.insert(QStringLiteral("v"), GuardProtocol::Version);
    client->out += GuardProtocol::Line(line);
    writeOut(id);
    client = find(id);
    if (client && client->out.size() > GuardProtocol::MaxUnsentBytes)
        drop(id, "it does not read what the guard sends");
}

void GuardServer::writeOut(quint64 id) {
    Client* client = find(id);
    if (!client)
        return;
    while (!client->out.isEmpty()) {
        const ssize_t n =
            ::send(client->fd, client->out.constData(), size_t(client->out.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            client->out.remove(0, n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        // Gone for good: nobody reads what is left.
        return drop(id, nullptr);
    }
    client->writer->setEnabled(!client->out.isEmpty());
}

void GuardServer::closeIfDone(quint64 id) {
    const Client* client = find(id);
    if (client && client->peerClosed && !client->in.contains('\n') &&
        (client->hungUp || (client->unanswered == 0 && client->out.isEmpty())))
        drop(id, nullptr);
}

void GuardServer::flush() {
    for (auto& [id, client] : clients_) {
        if (client.out.isEmpty())
            continue;
        pollfd ready{client.fd, POLLOUT, 0};
        if (::poll(&ready, 1, 100) > 0)
            (void)!::send(client.fd, client.out.constData(), size_t(client.out.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

void GuardServer::drop(quint64 id, const char* why) {
    const auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client& client = it->second;
    if (why)
        log_.Write(LogLimit::Priority::Notice, client.peer.uid, why,
                   QStringLiteral("dropped the client %1: %2")
                       .arg(LogLimit::Who(client.peer.uid, client.peer.pid), QLatin1String(why)));
    // The notifiers may be the ones whose signal runs now.
    for (QSocketNotifier* notifier : {client.reader, client.writer}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    ::close(client.fd);
    clients_.erase(it);
    emit clientGone(id);
}
