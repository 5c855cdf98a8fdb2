#include "app/GuardClient.h"

#include "guard/GuardProtocol.h"

#include <QJsonDocument>

namespace P = GuardProtocol;

GuardClient::GuardClient(QString socketPath, QObject* parent)
    : QObject(parent), path_(std::move(socketPath)) {
    retry_.setInterval(RetryMs);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &GuardClient::Start);
    connect(&socket_, &QLocalSocket::connected, this, &GuardClient::onConnected);
    connect(&socket_, &QLocalSocket::disconnected, this, &GuardClient::onDisconnected);
    connect(&socket_, &QLocalSocket::readyRead, this, &GuardClient::readLines);
    connect(&socket_, &QLocalSocket::errorOccurred, this, [this] {
        // A refused or broken connection: try again later, quietly.
        if (socket_.state() != QLocalSocket::ConnectedState)
            onDisconnected();
    });
}

GuardClient::~GuardClient() {
    socket_.disconnect(this);
    pending_.clear();
}

void GuardClient::Start() {
    if (socket_.state() != QLocalSocket::UnconnectedState)
        return;
    socket_.connectToServer(path_);
}

void GuardClient::onConnected() {
    send(P::Op::Hello, {}, [this](const QJsonObject& reply) {
        if (!Succeeded(reply))
            return;
        greeted_ = true;
        trusted_ = reply.value(QLatin1String(P::Trusted)).toBool();
        emit Connected(reply);
    });
}

void GuardClient::onDisconnected() {
    const bool wasGreeted = std::exchange(greeted_, false);
    if (socket_.state() != QLocalSocket::UnconnectedState)
        socket_.abort();
    failPending();
    if (!retry_.isActive())
        retry_.start();
    if (wasGreeted)
        emit Lost();
}

void GuardClient::failPending() {
    const QHash<qint64, Reply> waiting = std::exchange(pending_, {});
    const QJsonObject failure{{QStringLiteral("ok"), false}, {QStringLiteral("error"), P::Error::Unreachable}};
    for (const Reply& onReply : waiting) {
        if (onReply)
            onReply(failure);
    }
}

void GuardClient::send(QLatin1StringView op, QJsonObject arguments, Reply onReply) {
    if (socket_.state() != QLocalSocket::ConnectedState || (!greeted_ && op != P::Op::Hello)) {
        if (onReply) {
            QTimer::singleShot(0, this, [onReply] {
                onReply({{QStringLiteral("ok"), false}, {QStringLiteral("error"), P::Error::Unreachable}});
            });
        }
        return;
    }
    const qint64 id = nextId_++;
    arguments.insert(QStringLiteral("v"), P::Version);
    arguments.insert(QStringLiteral("id"), id);
    arguments.insert(QStringLiteral("op"), op);
    pending_.insert(id, std::move(onReply));
    socket_.write(P::Line(arguments));
    // Written now rather than from the next turn of the event loop: one wake-up less a tick.
    socket_.flush();
}

void GuardClient::readLines() {
    while (socket_.canReadLine()) {
        const QJsonObject message = QJsonDocument::fromJson(socket_.readLine()).object();
        dispatch(message);
        // A handler may have ended the connection or the program's wait for it.
        if (socket_.state() != QLocalSocket::ConnectedState)
            return;
    }
}

void GuardClient::dispatch(const QJsonObject& message) {
    const QString event = message.value(QStringLiteral("event")).toString();
    if (event.isEmpty()) {
        const Reply onReply = pending_.take(message.value(QStringLiteral("id")).toInteger(-1));
        if (onReply)
            onReply(message);
        return;
    }
    const auto text = [&message](const char* key) { return message.value(QLatin1String(key)).toString(); };
    const auto number = [&message](const char* key) { return message.value(QLatin1String(key)).toInt(); };
    if (event == P::Event::Status)
        emit Status(number("state"), text("ip"));
    else if (event == P::Event::Connect)
        emit Connect(message.value(QStringLiteral("authorised")).toBool(), text("entry"), text("ip"),
                     number("speed_up"), number("speed_down"));
    else if (event == P::Event::Disconnect)
        emit Disconnect();
    else if (event == P::Event::LastError)
        emit LastError(number("code"), text("text"));
    else if (event == P::Event::Saved)
        emit Saved(number("start_color"), number("end_color"));
    else if (event == P::Event::Stopped)
        emit Stopped();
    else if (event == P::Event::Notice)
        emit Notice(text("text"));
}

bool GuardClient::Succeeded(const QJsonObject& reply) {
    return reply.value(QStringLiteral("ok")).toBool();
}

QString GuardClient::ErrorOf(const QJsonObject& reply) {
    return reply.value(QStringLiteral("error")).toString();
}

void GuardClient::Counters(Reply onReply) {
    send(P::Op::Counters, {}, std::move(onReply));
}

void GuardClient::SavePosition(double top, double left) {
    send(P::Op::Position, {{QStringLiteral("top"), top}, {QStringLiteral("left"), left}}, {});
}

void GuardClient::DialDefault(Reply onReply) {
    send(P::Op::DialDefault, {}, std::move(onReply));
}

void GuardClient::HangUp(Reply onReply) {
    send(P::Op::HangUp, {}, std::move(onReply));
}

void GuardClient::OpenSetup(Reply onReply) {
    send(P::Op::SetupOpen, {}, std::move(onReply));
}

void GuardClient::ReadEntry(const QString& name, Reply onReply) {
    send(P::Op::SetupEntry, {{QStringLiteral("name"), name}}, std::move(onReply));
}

void GuardClient::SetField(const QString& name, qint16 fieldCode, const QJsonValue& value) {
    send(P::Op::SetupField,
         {{QStringLiteral("name"), name}, {QStringLiteral("field"), fieldCode}, {QStringLiteral("value"), value}}, {});
}

void GuardClient::SetColours(qint32 startColor, qint32 endColor) {
    send(P::Op::SetupColours, {{QStringLiteral("start"), startColor}, {QStringLiteral("end"), endColor}}, {});
}

void GuardClient::DialEntry(const QString& name) {
    send(P::Op::SetupDial, {{QStringLiteral("name"), name}}, {});
}

void GuardClient::SaveSettings() {
    send(P::Op::SetupSave, {}, {});
}

void GuardClient::CloseSetup() {
    send(P::Op::SetupClose, {}, {});
}

void GuardClient::Stop(Reply onReply) {
    send(P::Op::Stop, {}, std::move(onReply));
}
