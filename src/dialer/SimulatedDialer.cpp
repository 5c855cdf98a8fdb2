#include "dialer/SimulatedDialer.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// The stages of a call, as a modem and pppd go through them.
constexpr std::array<int, 7> Stages{DialerControl::OpenPort,      DialerControl::PortOpened,
                                    DialerControl::ConnectDevice, DialerControl::DeviceConnected,
                                    DialerControl::Authenticate,  DialerControl::Authenticated,
                                    DialerControl::Connected};

constexpr int TrafficTickMs = 100;
constexpr qint64 MaxTrafficSteps = 6000;
// A request is one short line; anything longer is not a request.
constexpr qint64 MaxRequestBytes = 64 * 1024;
constexpr int RequestTimeoutMs = 10000;
// sockaddr_un holds 108 bytes with the terminating zero.
constexpr qsizetype MaxSocketPathBytes = 107;

QJsonObject failure(const QString& message, bool badRequest = false) {
    QJsonObject reply{{QStringLiteral("ok"), false}, {QStringLiteral("message"), message}};
    if (badRequest)
        reply.insert(QStringLiteral("bad_request"), true);
    return reply;
}

QJsonObject success(const QString& message) {
    return {{QStringLiteral("ok"), true}, {QStringLiteral("message"), message}};
}

// Counters of a ppp interface read into a signed 32-bit value wrap as the kernel's do.
qint32 wrap32(double bytes) {
    return qint32(quint32(quint64(bytes)));
}

} // namespace

SimulatedDialer::SimulatedDialer(const DialerSettings& settings, const QString& appFolder, QObject* parent)
    : DialerControl(parent), m_settings(settings),
      m_appFolder(appFolder.isEmpty() || appFolder.endsWith(u'/') ? appFolder : appFolder + u'/'),
      m_random(QRandomGenerator::global()->generate()) {
    m_stageTimer.setSingleShot(true);
    connect(&m_stageTimer, &QTimer::timeout, this, &SimulatedDialer::advanceStage);
    listen();
}

SimulatedDialer::~SimulatedDialer() {
    // close() removes the socket file.
    m_server.close();
}

// ---- phonebook ----------------------------------------------------------------------------

const WvdialPhonebook& SimulatedDialer::phonebook() const {
    // Read again on every request so that a change shows at once; parse only when it changed.
    QByteArray bytes;
    QFile file(m_settings.phonebook);
    // Opening a FIFO put in its place would wait for a writer forever.
    const bool readable = QFileInfo(m_settings.phonebook).isFile() && file.open(QIODevice::ReadOnly);
    if (readable)
        bytes = file.read(WvdialPhonebook::MaxFileBytes);
    if (!m_bookRead || bytes != m_bookBytes) {
        m_book = WvdialPhonebook::parse(bytes);
        m_bookBytes = bytes;
        m_bookRead = true;
    }
    if (readable)
        m_readableBook = m_book;
    return m_book;
}

QString SimulatedDialer::PhonebookFile() const {
    return m_settings.phonebook;
}

qint16 SimulatedDialer::EntryCount() const {
    return qint16(qMin<qsizetype>(phonebook().entryNames().size(), std::numeric_limits<qint16>::max()));
}

QString SimulatedDialer::EntryNameAt(qint16 index) const {
    const QStringList& names = phonebook().entryNames();
    return index >= 0 && index < names.size() ? names.at(index) : QString();
}

qint16 SimulatedDialer::SelectEntry(const QString& name) {
    m_selected = name.isEmpty() ? std::nullopt : phonebook().entry(name);
    return m_selected ? qint16(Done) : qint16(EntryNotFound);
}

QString SimulatedDialer::EntryName() const {
    const Call* call = activeCall();
    if (call != nullptr && isReported(*call))
        return call->entry;
    return m_selected ? m_selected->name : QString();
}

QString SimulatedDialer::CallNumber() const {
    const Call* call = activeCall();
    return call != nullptr && isReported(*call) ? call->number : QString();
}

QString SimulatedDialer::EntryNumber() const {
    return m_selected ? m_selected->number : QString();
}

QString SimulatedDialer::EntryUser() const {
    return m_selected ? m_selected->user : QString();
}

// ---- the line -----------------------------------------------------------------------------

SimulatedDialer::Call* SimulatedDialer::activeCall() {
    if (!m_activeId || m_calls.isEmpty() || m_calls.back().id != *m_activeId)
        return nullptr;
    return &m_calls.back();
}

const SimulatedDialer::Call* SimulatedDialer::activeCall() const {
    if (!m_activeId || m_calls.isEmpty() || m_calls.back().id != *m_activeId)
        return nullptr;
    return &m_calls.back();
}

bool SimulatedDialer::isReported(const Call& call) const {
    return call.placedBy == Placer::Norvale || m_watchOthers;
}

bool SimulatedDialer::stillActive(quint64 id) const {
    return m_activeId && *m_activeId == id;
}

bool SimulatedDialer::IsOnline() const {
    const Call* call = activeCall();
    return call != nullptr && call->outcome == Outcome::Connected && isReported(*call);
}

bool SimulatedDialer::IsBusy() const {
    return activeCall() != nullptr;
}

QString SimulatedDialer::IpAddress() const {
    return IsOnline() ? m_ip : QString();
}

qint32 SimulatedDialer::BytesReceived() const {
    if (!IsOnline())
        return 0;
    updateTraffic();
    return wrap32(m_received);
}

qint32 SimulatedDialer::BytesSent() const {
    if (!IsOnline())
        return 0;
    updateTraffic();
    return wrap32(m_sent);
}

void SimulatedDialer::Dial() {
    // The entry is read again: the number dialled is the one in the phonebook now.
    const std::optional<PhonebookEntry> entry =
        m_selected ? phonebook().entry(m_selected->name) : std::optional<PhonebookEntry>();
    if (!entry) {
        raiseLater(EntryNotFound);
        return;
    }
    if (!placeCall(entry->name, entry->number, Placer::Norvale).isEmpty())
        raiseLater(DeviceUnavailable);
}

void SimulatedDialer::HangUp() {
    endCall(Outcome::HungUp);
}

void SimulatedDialer::SetWatchOtherCalls(bool on) {
    m_watchOthers = on;
}

void SimulatedDialer::SetReportEveryStage(bool on) {
    m_reportStages = on;
}

void SimulatedDialer::SetWatchInterval(qint16 milliseconds) {
    // Other programs' calls arrive through the socket at once; the interval is kept for the
    // record only.
    if (milliseconds > 0)
        m_watchIntervalMs = milliseconds;
}

QString SimulatedDialer::placeCall(const QString& entry, const QString& number, Placer placer) {
    if (activeCall() != nullptr)
        return errorText(DeviceUnavailable);
    Call call;
    call.id = m_nextCallId++;
    call.entry = entry;
    call.number = number;
    call.placedBy = placer;
    call.placed.start();
    m_calls.append(call);
    if (m_calls.size() > MaxCallHistory)
        m_calls.removeFirst();
    m_activeId = call.id;
    m_stageIndex = 0;
    // The first stage comes from the event loop, never from inside the caller.
    m_stageTimer.start(0);
    return {};
}

void SimulatedDialer::advanceStage() {
    Call* call = activeCall();
    if (call == nullptr || m_stageIndex >= int(Stages.size()))
        return;
    const quint64 id = call->id;
    const int state = Stages.at(m_stageIndex++);
    call->lastState = state;
    const bool connected = state == Connected;
    if (connected) {
        call->outcome = Outcome::Connected;
        m_ip = QStringLiteral("10.%1.%2.%3")
                   .arg(64 + m_random.bounded(64))
                   .arg(m_random.bounded(256))
                   .arg(1 + m_random.bounded(254));
        m_received = 0;
        m_sent = 0;
        m_downLevel = 1;
        m_upLevel = 1;
        m_trafficSteps = 0;
        m_trafficClock.start();
    }
    const bool reported = isReported(*call);
    if (reported && m_reportStages) {
        emit Status(state);
        // A handler may have hung up.
        if (!stillActive(id))
            return;
    }
    if (connected) {
        if (reported)
            emit Connect();
        return;
    }
    m_stageTimer.start(m_settings.stageMs);
}

void SimulatedDialer::endCall(Outcome outcome) {
    Call* call = activeCall();
    if (call == nullptr)
        return;
    const bool wasConnected = call->outcome == Outcome::Connected;
    const bool reported = isReported(*call);
    call->outcome = outcome;
    if (outcome == Outcome::HungUp)
        call->hungUpAfterMs = double(call->placed.nsecsElapsed()) / 1e6;
    if (wasConnected)
        call->lastState = Disconnected;
    m_activeId.reset();
    m_stageTimer.stop();
    m_ip.clear();
    // Delivered from the event loop, so that a handler that hangs up is not re-entered.
    QMetaObject::invokeMethod(
        this,
        [this, told = wasConnected && reported] {
            if (told && m_reportStages)
                emit Status(Disconnected);
            if (told)
                emit Disconnect();
            emit CallEnded();
        },
        Qt::QueuedConnection);
}

void SimulatedDialer::raiseError(int code) {
    const Call* call = activeCall();
    const bool reported = call == nullptr || isReported(*call);
    endCall(Outcome::Error);
    if (reported)
        emit LastError(code, errorText(code), 0);
}

void SimulatedDialer::raiseLater(int code) {
    QMetaObject::invokeMethod(
        this, [this, code] { emit LastError(code, errorText(code), 0); }, Qt::QueuedConnection);
}

// The traffic moves on in steps of a tenth of a second, worked out when someone reads it: a line
// that nobody watches costs nothing. A smoothed random level around 1 gives bursts and lulls with the
// configured mean.
void SimulatedDialer::updateTraffic() const {
    const qint64 steps = m_trafficClock.elapsed() / TrafficTickMs - m_trafficSteps;
    if (steps <= 0)
        return;
    m_trafficSteps += steps;
    const double seconds = TrafficTickMs / 1000.0;
    // After a long wait the level has long settled at its mean.
    for (qint64 i = 0; i < std::min<qint64>(steps, MaxTrafficSteps); ++i) {
        m_downLevel = 0.8 * m_downLevel + 0.2 * m_random.bounded(2.0);
        m_upLevel = 0.8 * m_upLevel + 0.2 * m_random.bounded(2.0);
        m_received += m_settings.downBps * seconds * m_downLevel;
        m_sent += m_settings.upBps * seconds * m_upLevel;
    }
    if (steps > MaxTrafficSteps) {
        const double rest = double(steps - MaxTrafficSteps) * seconds;
        m_received += m_settings.downBps * rest;
        m_sent += m_settings.upBps * rest;
    }
}

QString SimulatedDialer::errorText(int code) {
    switch (code >= 25000 ? code - 25000 : code) {
    case EntryNotFound:
        return QStringLiteral("The system could not find the phone book entry for this connection.");
    case DeviceUnavailable:
        return QStringLiteral(
            "The modem (or other connecting device) is already in use or is not configured properly.");
    case LineBusy:
        return QStringLiteral("The phone line is busy.");
    case NoAnswer:
        return QStringLiteral("The remote computer did not respond.");
    case NoCarrier:
        return QStringLiteral("The modem (or other connecting device) has reported no carrier.");
    case NoDialTone:
        return QStringLiteral("There was no dial tone.");
    case AuthenticationFailed:
        return QStringLiteral(
            "Access was denied because the username and/or password was invalid on the domain.");
    case ModemHardwareFailure:
        return QStringLiteral("There was a hardware failure in the modem (or other connecting device).");
    default:
        return QStringLiteral("An unknown error occurred.");
    }
}

QString SimulatedDialer::outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::InProgress:
        break;
    case Outcome::Connected:
        return QStringLiteral("connected");
    case Outcome::HungUp:
        return QStringLiteral("hung-up");
    case Outcome::Dropped:
        return QStringLiteral("dropped");
    case Outcome::Error:
        return QStringLiteral("error");
    }
    return QStringLiteral("in-progress");
}

QJsonObject SimulatedDialer::lineStatus() const {
    const Call* active = activeCall();
    QString line = QStringLiteral("idle");
    if (active != nullptr)
        line =
            active->outcome == Outcome::Connected ? QStringLiteral("connected") : QStringLiteral("dialling");
    QJsonArray calls;
    for (const Call& call : m_calls) {
        calls.append(QJsonObject{
            {QStringLiteral("entry"), call.entry},
            {QStringLiteral("number"), call.number},
            {QStringLiteral("placed_by"),
             call.placedBy == Placer::Norvale ? QStringLiteral("norvale") : QStringLiteral("other")},
            {QStringLiteral("last_state"), call.lastState},
            {QStringLiteral("outcome"), outcomeName(call.outcome)},
            {QStringLiteral("hung_up_after_ms"),
             call.hungUpAfterMs ? QJsonValue(*call.hungUpAfterMs) : QJsonValue(QJsonValue::Null)},
        });
    }
    return {
        {QStringLiteral("line"), line},
        {QStringLiteral("entry"),
         active != nullptr ? active->entry : (m_selected ? m_selected->name : QString())},
        {QStringLiteral("calls"), calls},
    };
}

// ---- control socket -----------------------------------------------------------------------

QString SimulatedDialer::socketPath() const {
    return m_socketPath;
}

void SimulatedDialer::listen() {
    const QString path = m_appFolder + QStringLiteral("line.sock");
    if (QFile::encodeName(path).size() > MaxSocketPathBytes) {
        qWarning("the line's control socket path is too long: %s", qPrintable(path));
        return;
    }
    {
        // A live socket belongs to another running copy: leave it alone.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(250)) {
            qWarning("another program already listens on %s", qPrintable(path));
            return;
        }
    }
    QLocalServer::removeServer(path);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(path)) {
        qWarning("cannot open the line's control socket %s: %s", qPrintable(path),
                 qPrintable(m_server.errorString()));
        return;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    m_socketPath = path;
    connect(&m_server, &QLocalServer::newConnection, this, &SimulatedDialer::acceptClients);
}

void SimulatedDialer::acceptClients() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serve(socket); });
        // A client that never finishes its request does not keep its connection.
        QTimer::singleShot(RequestTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

void SimulatedDialer::serve(QLocalSocket* client) {
    // A handler of a signal raised below may run an event loop in which the client goes away.
    const QPointer<QLocalSocket> socket(client);
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > MaxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(MaxRequestBytes);
    QJsonParseError error{};
    const QJsonDocument request = QJsonDocument::fromJson(line, &error);
    const QJsonObject reply = request.isObject()
                                  ? answer(request.object())
                                  : failure(QStringLiteral("the request is not a JSON object"), true);
    if (socket.isNull())
        return;
    socket->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
    socket->disconnectFromServer();
}

QJsonObject SimulatedDialer::answer(const QJsonObject& request) {
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == u"dial") {
        const QString entry = request.value(QStringLiteral("entry")).toString();
        if (entry.isEmpty())
            return failure(QStringLiteral("dial needs an entry name"), true);
        const QJsonValue given = request.value(QStringLiteral("number"));
        QString number;
        if (given.isString()) {
            number = given.toString();
        } else {
            // Another program read the phonebook before the guard closed it to others.
            auto known = phonebook().entry(entry);
            if (!known)
                known = m_readableBook.entry(entry);
            number = known ? known->number : QString();
        }
        const QString refused = placeCall(entry, number, Placer::Other);
        if (!refused.isEmpty())
            return failure(refused);
        QJsonObject reply = success(QStringLiteral("Dialling %1 (number %2).").arg(entry, number));
        reply.insert(QStringLiteral("number"), number);
        return reply;
    }
    if (command == u"drop") {
        if (activeCall() == nullptr)
            return failure(QStringLiteral("The line is idle: there is no call to drop."));
        endCall(Outcome::Dropped);
        return success(QStringLiteral("The line dropped."));
    }
    if (command == u"error") {
        const int code = request.value(QStringLiteral("code")).toInt(-1);
        if (code < 1 || code > std::numeric_limits<qint16>::max())
            return failure(QStringLiteral("error needs a code from 1 to 32767"), true);
        raiseError(code);
        return success(QStringLiteral("The modem reported error %1: %2").arg(code).arg(errorText(code)));
    }
    if (command == u"status") {
        QJsonObject reply = success(QString());
        reply.insert(QStringLiteral("status"), lineStatus());
        return reply;
    }
    if (command == u"phonebook") {
        QJsonObject reply = success(QString());
        reply.insert(QStringLiteral("phonebook"), PhonebookFile());
        return reply;
    }
    return failure(QStringLiteral("unknown command \"%1\"").arg(command), true);
}
