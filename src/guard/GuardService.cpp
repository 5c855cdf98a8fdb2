#include "guard/GuardService.h"

#include "dialer/DialerControl.h"
#include "guard/CallCheck.h"
#include "guard/GuardLog.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardServer.h"
#include "platform/Convert.h"
#include "platform/LockRecord.h"
#include "settings/ConnectionTable.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/PrivateProfile.h"
#include "settings/SettingsFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

namespace P = GuardProtocol;

const QString GeneralSetup = QStringLiteral("General Setup");

// The component's own words for an entry its phonebook does not hold, for a line that takes no
// second call, and a Windows dialler's for a call hung up.
const QString EntryNotFoundText =
    QStringLiteral("The system could not find the phone book entry for this connection.");
const QString DeviceUnavailableText =
    QStringLiteral("The modem (or other connecting device) is already in use or is not configured properly.");
const QString HungUpText = QStringLiteral("The port was disconnected by the user.");

// The phonebook synchronisation fills a list box in a display; here only PhonebookList matters.
class NoList final : public EntryList {
public:
    void clear() override {}
    void addItem(const QString&) override {}
};

QJsonObject ok() {
    return {{QStringLiteral("ok"), true}};
}

QJsonObject eventOf(QLatin1StringView name) {
    return {{QStringLiteral("event"), name}};
}

QJsonObject outcomeOf(QLatin1StringView result, const QString& entry, int code = 0,
                      const QString& text = {}) {
    QJsonObject outcome{
        {QStringLiteral("ok"), true}, {QStringLiteral("result"), result}, {QStringLiteral("entry"), entry}};
    if (result != P::Outcome::Connected) {
        // As the displays show it.
        outcome.insert(QStringLiteral("code"), code > 24999 ? code - 25000 : code);
        outcome.insert(QStringLiteral("text"), text);
    }
    return outcome;
}

// A place in twips as X11 can hold it; anything else is no place.
std::optional<double> twips(const QJsonValue& value) {
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return std::nullopt;
    return std::clamp(value.toDouble(), -P::MaxTwips, P::MaxTwips);
}

// A name a client sent, for the log: quoted, one line and short, so that it cannot pass for lines of
// the guard's own, nor end its quotes early and go on as the guard.
QString shown(const QString& name) {
    QString line;
    for (const QChar c : name.left(128)) {
        if (c == u'"' || c == u'\\')
            line += u'\\';
        line += c.category() == QChar::Other_Control ? QChar(u'?') : c;
    }
    return u'"' + line + u'"';
}

// Why polkit could not be asked, as the log says it.
QString unavailableText(const Authority::Answer& answer) {
    namespace U = P::Unavailable;
    const QString why = answer.reason == U::NoPkcheck ? QStringLiteral("pkcheck cannot be run")
                        : answer.reason == U::NoPolkit ? QStringLiteral("polkit's service does not answer")
                        : answer.reason == U::NoAgent  ? QStringLiteral("no authentication agent runs for the user")
                        : answer.reason == U::Signal   ? QStringLiteral("pkcheck was ended by signal %1").arg(answer.status)
                                                       : QStringLiteral("pkcheck ended with status %1").arg(answer.status);
    // What pkcheck said, on one line and short: it is another program's text.
    const QString said = answer.said.simplified().left(300);
    return said.isEmpty() ? why : why + QStringLiteral(": ") + said;
}

QString stateName(int state) {
    if (state == DialerControl::ConnectDevice)
        return QStringLiteral("connecting the device");
    return state == DialerControl::Connected ? QStringLiteral("connected") : QStringLiteral("state %1").arg(state);
}

} // namespace

GuardService::GuardService(std::unique_ptr<DialerControl> dialer, GuardServer& server, const Authority& authority,
                           Options options, QObject* parent)
    : QObject(parent), rasDial_(std::move(dialer)), server_(server), authority_(authority),
      options_(std::move(options)), places_([this](QPointF topLeft) { writePlace(topLeft); }), files_(server) {
    tmrLock_.setSingleShot(true);
    tmrLock_.setInterval(PhonebookLockDelayMs);
    connect(&tmrLock_, &QTimer::timeout, this, &GuardService::tmrLock_Timer);
    connect(rasDial_.get(), &DialerControl::Status, this, &GuardService::rasDial_Status);
    connect(rasDial_.get(), &DialerControl::Connect, this, &GuardService::rasDial_Connect);
    connect(rasDial_.get(), &DialerControl::Disconnect, this, &GuardService::rasDial_Disconnect);
    connect(rasDial_.get(), &DialerControl::LastError, this, &GuardService::rasDial_LastError);
    connect(rasDial_.get(), &DialerControl::Blocked, this, &GuardService::rasDial_Blocked);
    connect(rasDial_.get(), &DialerControl::CallEnded, this, &GuardService::rasDial_CallEnded);
    connect(&server_, &GuardServer::request, this, &GuardService::onRequest);
    connect(&server_, &GuardServer::clientGone, this, &GuardService::onClientGone);
}

GuardService::~GuardService() {
    server_.disconnect(this);
    rasDial_->disconnect(this);
}

void GuardService::log(LogLimit::Priority priority, const QString& line) {
    GuardLog::Write(priority, line);
}

// ---- start-up and shut-down -----------------------------------------------------------------

void GuardService::Start() {
    Global::State& state = Global::state;
    state.AppFolder = Subs::WithTrailingSlash(options_.programFolder);
    state.SettingsFile = state.AppFolder + QStringLiteral("nv4.ini");
    state.PhonebookPath = rasDial_->PhonebookFile();
    if (!options_.recordFolder.isEmpty())
        LockRecord::SetFolder(options_.recordFolder);
    files_.Start();
    files_.SetReducedProtection(rasDial_->ReducedProtection());

    // The table is still empty: every phonebook entry is appended, as the hidden setup's loading did.
    state.StartingUp = true;
    NoList list;
    Global::SyncPhonebook(list, *rasDial_);
    const auto readNumber = [&](const QString& key, const char* defaultText) {
        return Convert::LeadingNumber(
            Subs::ReadIniValue(state.SettingsFile, GeneralSetup, key, QString::fromLatin1(defaultText)));
    };
    state.StartColor = Convert::ToInt32(readNumber(QStringLiteral("StartColor"), "255"));
    state.EndColor = Convert::ToInt32(readNumber(QStringLiteral("EndColor"), "65535"));
    // Limited before the single-precision step: a hand-edited value beyond float's range has no float.
    topWin_ = double(float(std::clamp(readNumber(QStringLiteral("TopWin"), "10"), -P::MaxTwips, P::MaxTwips)));
    leftWin_ = double(float(std::clamp(readNumber(QStringLiteral("LeftWin"), "100"), -P::MaxTwips, P::MaxTwips)));

    Global::LoadConnections();
    dropDefaultsRows();
    revokeChangedNumbers();
    Global::LockSettingsFile();
    rasDial_->SetWatchOtherCalls(true);
    rasDial_->SetReportEveryStage(true);
    rasDial_->SetWatchInterval(100);
    if (state.PhonebookPath.isEmpty())
        log(LogLimit::Priority::Warning, QStringLiteral("the dial-up component names no phonebook: nothing to lock"));
    state.StartingUp = false;
    tmrLock_.start();
    log(LogLimit::Priority::Info, QStringLiteral("guarding %1 (phonebook %2)").arg(state.AppFolder, state.PhonebookPath));
    notifier_.Ready();
}

// wvdial's [Dialer Defaults] is no entry, but earlier runs listed it as "Defaults" and stored a row
// for it. The row goes at the next save and the rows after it move up: the save writes only as many
// rows as the phonebook has entries, and a stale row ahead would push the last entry out.
void GuardService::dropDefaultsRows() {
    Global::State& state = Global::state;
    const auto isDefaults = [](const QString& name) {
        return name.compare(QLatin1String("Defaults"), Qt::CaseInsensitive) == 0;
    };
    const auto begin = state.ConnectionTable.begin();
    const auto end = begin + state.ConnectionCount;
    const auto kept = std::stable_partition(begin, end, [&](const ConnectionRecord& row) { return !isDefaults(row.Name); });
    std::fill(kept, end, ConnectionRecord{});
    state.ConnectionCount = int(kept - begin);
    if (isDefaults(state.DefaultEntryName))
        state.DefaultEntryName.clear();
}

// The start-up's synchronisation compared the phonebook with a table that was still empty. Compare
// again with the rows just read, so that an authorised entry whose number was changed while the
// guard was not running loses its authorisation before anyone can dial it. An entry the phonebook
// does not hold has nothing to compare with and keeps its row as it is.
void GuardService::revokeChangedNumbers() {
    Global::State& state = Global::state;
    for (int i = 0; i < state.ConnectionCount; ++i) {
        ConnectionRecord& row = state.ConnectionTable[i];
        if (!row.Authorised || rasDial_->SelectEntry(row.Name) != DialerControl::Done)
            continue;
        if (rasDial_->EntryNumber() != row.Number) {
            row.Authorised = false;
            log(LogLimit::Priority::Notice, QStringLiteral("%1 lost its authorisation: its number changed").arg(shown(row.Name)));
        }
    }
}

void GuardService::tmrLock_Timer() {
    tmrLock_.stop();
    lockPhonebook();
}

void GuardService::Shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    notifier_.Stopping();
    tmrLock_.stop();
    for (auto& [client, queue] : queues_) {
        if (queue.cancel)
            std::exchange(queue.cancel, nullptr)();
    }
    if (dialling_)
        fail(std::exchange(dialling_, std::nullopt)->asked, P::Error::Stopped,
             QStringLiteral("the guard stopped before the call's outcome; the call is left as it is"));
    places_.WriteAll();
    unlockPhonebook();
    const bool saved = Global::SaveSettings();
    Global::UnlockSettingsFile();
    userLog_.Flush();
    if (saved)
        log(LogLimit::Priority::Info, QStringLiteral("settings saved, files released"));
    else
        files_.SaveFailed(QStringLiteral("files released; the settings could not be written to %1, which is left as it was")
                              .arg(Global::state.SettingsFile));
}

void GuardService::stop(const Asked& asked) {
    log(LogLimit::Priority::Notice, QStringLiteral("stopped by %1").arg(who(asked)));
    Shutdown();
    // Only an administrator's stop gives the modem back: a service stop or a crash leaves it fenced.
    rasDial_->RemoveFence();
    server_.broadcast(eventOf(P::Event::Stopped));
    server_.flush();
    if (options_.endProgram)
        options_.endProgram(0);
    else
        QCoreApplication::exit(0);
}

// ---- the component's events ----------------------------------------------------------------------

void GuardService::rasDial_Status(int state) {
    const QString entry = rasDial_->EntryName();
    const QString refused =
        state == DialerControl::ConnectDevice ? CallCheck::Refusal(entry, rasDial_->CallNumber()) : QString();
    QJsonObject status = eventOf(P::Event::Status);
    status.insert(QStringLiteral("state"), state);
    if (state == DialerControl::Connected)
        status.insert(QStringLiteral("ip"), rasDial_->IpAddress());
    // Sent before the hang-up, whose own events follow it.
    server_.broadcast(status);
    if (!refused.isEmpty()) {
        if (dialling_)
            dialling_->refusal = refused;
        rasDial_->HangUp();
        log(LogLimit::Priority::Notice,
            QStringLiteral("hung up a call on %1 at %2: %3").arg(shown(entry), stateName(state), refused));
    }
}

void GuardService::rasDial_Connect() {
    Global::State& state = Global::state;
    const QString name = rasDial_->EntryName();
    const QString refused = CallCheck::Refusal(name, rasDial_->CallNumber());
    const bool authorised = refused.isEmpty();
    if (authorised) {
        state.LineSpeedUp = Global::SpeedOf(name, true);
        state.LineSpeedDown = Global::SpeedOf(name, false);
        state.Connected = true;
        connectedEntry_ = name;
    }
    QJsonObject connected = eventOf(P::Event::Connect);
    connected.insert(QStringLiteral("authorised"), authorised);
    connected.insert(QStringLiteral("entry"), name);
    connected.insert(QStringLiteral("ip"), rasDial_->IpAddress());
    connected.insert(QStringLiteral("speed_up"), state.LineSpeedUp);
    connected.insert(QStringLiteral("speed_down"), state.LineSpeedDown);
    server_.broadcast(connected);
    if (authorised && dialling_) {
        QJsonObject up = outcomeOf(P::Outcome::Connected, name);
        up.insert(QStringLiteral("ip"), rasDial_->IpAddress());
        endDialling(up);
    }
    if (!authorised) {
        if (dialling_)
            dialling_->refusal = refused;
        rasDial_->HangUp();
        log(LogLimit::Priority::Notice, QStringLiteral("hung up a call on %1 at %2: %3")
                                            .arg(shown(name), stateName(DialerControl::Connected), refused));
    }
}

void GuardService::rasDial_Disconnect() {
    Global::state.Connected = false;
    connectedEntry_.clear();
    server_.broadcast(eventOf(P::Event::Disconnect));
}

void GuardService::rasDial_LastError(int errorCode, const QString& errorString, int) {
    QJsonObject error = eventOf(P::Event::LastError);
    error.insert(QStringLiteral("code"), errorCode);
    error.insert(QStringLiteral("text"), errorString);
    server_.broadcast(error);
    // While the line still carries the call, the error was another dial's, which the line refused.
    if (dialling_ && !rasDial_->IsBusy())
        endDialling(outcomeOf(P::Outcome::Failed, dialling_->entry, errorCode, errorString));
}

void GuardService::rasDial_CallEnded() {
    if (!dialling_ || rasDial_->IsBusy())
        return;
    QJsonObject hungUp = outcomeOf(P::Outcome::HungUp, dialling_->entry, P::HungUpCode, HungUpText);
    if (!dialling_->refusal.isEmpty())
        hungUp.insert(QStringLiteral("reason"), dialling_->refusal);
    endDialling(hungUp);
}

// During the guard's own call the line stays up: the refused program never had it.
void GuardService::rasDial_Blocked(const QString& program, bool duringOwnCall) {
    if (!duringOwnCall) {
        QJsonObject status = eventOf(P::Event::Status);
        status.insert(QStringLiteral("state"), int(DialerControl::ConnectDevice));
        server_.broadcast(status);
        server_.broadcast(eventOf(P::Event::Disconnect));
    }
    server_.broadcast({{QStringLiteral("event"), P::Event::Notice}, {QStringLiteral("text"), BlockedText() + program}});
}

// ---- requests ----------------------------------------------------------------------------------

void GuardService::answer(const Asked& asked, QJsonObject reply) {
    if (!reply.contains(QStringLiteral("ok")))
        reply.insert(QStringLiteral("ok"), true);
    server_.reply(asked.client, asked.id, reply);
}

void GuardService::fail(const Asked& asked, QLatin1StringView error, const QString& message) {
    server_.reply(asked.client, asked.id,
                  {{QStringLiteral("ok"), false},
                   {QStringLiteral("error"), error},
                   {QStringLiteral("message"), message}});
}

// What needs no administrator is served at once, whatever waits for polkit: the traffic, the
// place, the dial and the hang-up never wait for a password.
void GuardService::onRequest(quint64 client, const Authority::Peer& peer, const QJsonObject& request) {
    const Asked asked{client, request.value(QStringLiteral("id")), peer, request.value(QStringLiteral("op")).toString(),
                      request};
    const QString& op = asked.op;
    if (shutDown_)
        return fail(asked, P::Error::Refused, QStringLiteral("the guard is stopping"));
    if (op == P::Op::Hello) {
        server_.subscribe(client);
        QJsonObject greeting = snapshot();
        if (authority_.trusts(peer.uid))
            greeting.insert(QLatin1String(P::Trusted), true);
        answer(asked, greeting);
        return files_.Replay(client);
    }
    if (op == P::Op::Counters)
        return answer(asked, counters());
    if (op == P::Op::Position)
        return position(asked);
    if (op == P::Op::DialDefault || op == P::Op::HangUp || op == P::Op::DialEntry) {
        if (!authority_.mayDial(peer.uid)) {
            userLog_.Write(LogLimit::Priority::Notice, peer.uid, "refused: may not dial",
                           QStringLiteral("refused %1 to %2: not allowed to dial").arg(op, who(asked)));
            return fail(asked, P::Error::Refused, QStringLiteral("only root and the groups dip, sudo, wheel and admin may dial"));
        }
        // Those who may dial may still not flood the log with it.
        if (op == P::Op::HangUp) {
            userLog_.Write(LogLimit::Priority::Info, peer.uid, "hang up", QStringLiteral("hanging up for %1").arg(who(asked)));
            hangUp();
            return answer(asked, ok());
        }
        if (op == P::Op::DialEntry)
            return dialEntry(asked);
        userLog_.Write(LogLimit::Priority::Info, peer.uid, "dial",
                       QStringLiteral("dialling the default entry for %1").arg(who(asked)));
        return answer(asked, dialDefault());
    }
    if (op != P::Op::Stop && !op.startsWith(QLatin1String("setup_")))
        return fail(asked, P::Error::UnknownOp, QStringLiteral("unknown op \"%1\"").arg(op.left(64)));
    Queue& queue = queues_[client];
    if (queue.waiting.size() >= MaxWaiting)
        return fail(asked, P::Error::Busy, QStringLiteral("%1 requests wait already").arg(MaxWaiting));
    queue.waiting.push_back(asked);
    serveQueue(client);
}

void GuardService::serveQueue(quint64 client) {
    for (;;) {
        const auto it = queues_.find(client);
        if (it == queues_.end() || it->second.asking || it->second.waiting.empty() || shutDown_)
            return;
        Asked next = std::move(it->second.waiting.front());
        it->second.waiting.pop_front();
        if (next.op == P::Op::SetupOpen || next.op == P::Op::Stop)
            askPolkit(std::move(next));
        else
            setupRequest(next);
    }
}

void GuardService::askPolkit(Asked asked) {
    if (asked.op == P::Op::SetupOpen && setupOwner_ != 0 && setupOwner_ != asked.client)
        return fail(asked, P::Error::Busy, QStringLiteral("the setup is open in another display"));
    const quint64 client = asked.client;
    const quint64 question = ++questions_;
    Queue& queue = queues_[client];
    queue.asking = true;
    queue.question = question;
    queue.uid = asked.peer.uid;
    Authority::Cancel cancel = authority_.confirmAdministrator(
        asked.peer, [this, self = QPointer(this), asked, question](const Authority::Answer& verdict) {
            const auto it = self ? queues_.find(asked.client) : queues_.end();
            if (it == queues_.end() || it->second.question != question)
                return;
            it->second.asking = false;
            it->second.cancel = nullptr;
            answered(asked, verdict);
        });
    // An answer given at once has been dealt with already.
    const auto it = queues_.find(client);
    if (it != queues_.end() && it->second.asking && it->second.question == question)
        it->second.cancel = std::move(cancel);
}

// The requests that waited behind the question share its answer: "Autorizza" and "Connetti" sent
// right after the setup's opening find the setup open, and no second dialog is shown.
void GuardService::answered(const Asked& asked, const Authority::Answer& verdict) {
    std::deque<Asked> behind = std::exchange(queues_[asked.client].waiting, {});
    administratorRequest(asked, verdict);
    for (const Asked& next : behind) {
        if (shutDown_ || !server_.has(next.client))
            break;
        if (next.op == P::Op::SetupOpen || next.op == P::Op::Stop)
            administratorRequest(next, verdict);
        else
            setupRequest(next);
    }
    serveQueue(asked.client);
}

void GuardService::administratorRequest(const Asked& asked, const Authority::Answer& verdict) {
    using Verdict = Authority::Verdict;
    const bool setup = asked.op == P::Op::SetupOpen;
    const QString refused =
        QStringLiteral("refused %1 to %2: ").arg(setup ? QStringLiteral("the setup") : QStringLiteral("the stop"), who(asked));
    if (shutDown_ || !server_.has(asked.client))
        return;
    if (verdict.verdict == Verdict::TimedOut || verdict.verdict == Verdict::Unavailable) {
        const bool late = verdict.verdict == Verdict::TimedOut;
        // Not the user's doing: the administrator needs to hear why polkit could not be asked.
        userLog_.Write(late ? LogLimit::Priority::Notice : LogLimit::Priority::Error, asked.peer.uid,
                       late ? "refused: no answer in time" : "refused: polkit not asked",
                       refused + (late ? QStringLiteral("polkit gave no answer in time")
                                       : QStringLiteral("polkit could not be asked: ") + unavailableText(verdict)));
        QJsonObject refusal{{QStringLiteral("ok"), false},
                            {QStringLiteral("error"), P::Error::AuthUnavailable},
                            {QStringLiteral("reason"), late ? P::Unavailable::Timeout : verdict.reason},
                            {QStringLiteral("message"), late ? QStringLiteral("the authentication was not answered in time")
                                                             : QStringLiteral("polkit could not be asked")}};
        if (verdict.reason == P::Unavailable::Status || verdict.reason == P::Unavailable::Signal)
            refusal.insert(QStringLiteral("status"), verdict.status);
        return answer(asked, refusal);
    }
    if (verdict.verdict != Verdict::Granted) {
        // pkcheck's 1: polkit's rules say no; 3: the user closed the dialog.
        const QString why = verdict.verdict == Verdict::TooMany
                                ? QStringLiteral("too many of its questions to polkit still run")
                            : verdict.status == 3 ? QStringLiteral("the authentication was dismissed")
                            : verdict.status == 1 ? QStringLiteral("polkit did not authorise it")
                                                  : QStringLiteral("not an administrator");
        userLog_.Write(LogLimit::Priority::Notice, asked.peer.uid, "refused: no administrator", refused + why);
        return fail(asked, P::Error::Refused, QStringLiteral("only an administrator may do this"));
    }
    if (!setup) {
        // Answered like any request, before the "stopped" that every display gets.
        answer(asked, ok());
        return stop(asked);
    }
    // The slot is taken when polkit agrees: another display may have taken it meanwhile.
    if (setupOwner_ != 0 && setupOwner_ != asked.client)
        return fail(asked, P::Error::Busy, QStringLiteral("the setup is open in another display"));
    setupOwner_ = asked.client;
    log(LogLimit::Priority::Notice, QStringLiteral("setup opened by %1").arg(who(asked)));
    answer(asked, openSetup());
}

void GuardService::setupRequest(const Asked& asked) {
    const QString& op = asked.op;
    const QJsonObject& request = asked.request;
    if (setupOwner_ != asked.client)
        return fail(asked, P::Error::NoSetup, QStringLiteral("open the setup first"));
    // Taken out of the administrators' groups meanwhile: the setup ends here.
    if (!authority_.inAdministratorGroup(asked.peer.uid)) {
        setupOwner_ = 0;
        userLog_.Write(LogLimit::Priority::Notice, asked.peer.uid, "refused: no administrator",
                       QStringLiteral("refused %1 to %2: no longer in an administrators' group; the setup is closed")
                           .arg(shown(op), who(asked)));
        return fail(asked, P::Error::Refused, QStringLiteral("only an administrator may do this"));
    }
    const QJsonValue name = request.value(QStringLiteral("name"));
    if (op == P::Op::SetupClose) {
        setupOwner_ = 0;
        log(LogLimit::Priority::Info, QStringLiteral("setup closed by %1").arg(who(asked)));
        return answer(asked, ok());
    }
    if (op == P::Op::SetupSave) {
        log(LogLimit::Priority::Info, QStringLiteral("settings saved by %1").arg(who(asked)));
        saveSettings();
        return answer(asked, ok());
    }
    if (op == P::Op::SetupColours) {
        const QJsonValue start = request.value(QStringLiteral("start"));
        const QJsonValue end = request.value(QStringLiteral("end"));
        const auto colour = [](const QJsonValue& value) {
            return value.isDouble() && value.toDouble() == std::trunc(value.toDouble()) &&
                   value.toDouble() >= -2147483648.0 && value.toDouble() <= 2147483647.0;
        };
        if (!colour(start) || !colour(end))
            return fail(asked, P::Error::BadRequest, QStringLiteral("two colours are two 32-bit numbers"));
        Global::State& state = Global::state;
        if (state.StartColor != qint32(start.toDouble()) || state.EndColor != qint32(end.toDouble()))
            log(LogLimit::Priority::Notice, QStringLiteral("colours changed from %1 and %2 to %3 and %4 by %5")
                                                .arg(state.StartColor)
                                                .arg(state.EndColor)
                                                .arg(qint32(start.toDouble()))
                                                .arg(qint32(end.toDouble()))
                                                .arg(who(asked)));
        state.StartColor = qint32(start.toDouble());
        state.EndColor = qint32(end.toDouble());
        return answer(asked, ok());
    }
    if (!name.isString())
        return fail(asked, P::Error::BadRequest, QStringLiteral("%1 needs the entry's name").arg(op));
    if (op == P::Op::SetupEntry)
        return answer(asked, readEntry(name.toString()));
    if (op == P::Op::SetupField) {
        const QJsonValue field = request.value(QStringLiteral("field"));
        const QJsonValue value = request.value(QStringLiteral("value"));
        if (!field.isDouble() || value.isUndefined() || value.isArray() || value.isObject())
            return fail(asked, P::Error::BadRequest, QStringLiteral("setup_field needs a field code and a value"));
        setField(asked, name.toString(), Convert::ToInt16(field.toDouble()), value);
        return answer(asked, ok());
    }
    if (op == P::Op::SetupDial) {
        log(LogLimit::Priority::Info,
            QStringLiteral("dialling %1 from the setup for %2").arg(shown(name.toString().trimmed()), who(asked)));
        // The write protection stays on while the component reads the entry and dials.
        Global::ClosePhonebookLock();
        rasDial_->SelectEntry(name.toString().trimmed());
        // Whatever the authorisation: the connection events hang up a call on an unauthorised entry.
        rasDial_->Dial();
        Global::OpenLocked(Global::state.PhonebookPath);
        saveSettings();
        return answer(asked, ok());
    }
    fail(asked, P::Error::UnknownOp, QStringLiteral("unknown op \"%1\"").arg(op.left(64)));
}

// What decides over calls is said with who changed it: the authorisation, the default, the number.
void GuardService::setField(const Asked& asked, const QString& name, qint16 field, const QJsonValue& value) {
    const bool authorised = Global::IsAuthorised(name);
    const bool isDefault = Global::IsDefaultEntry(name);
    const QString number = Global::NumberOf(name);
    Global::SetField(name, field, value.toVariant());
    const QString entry = shown(name);
    QString changed;
    if (field == Global::FieldAuthorised && Global::IsAuthorised(name) != authorised)
        changed = authorised ? QStringLiteral("authorisation of %1 revoked").arg(entry) : entry + QStringLiteral(" authorised");
    else if (field == Global::FieldDefault && Global::IsDefaultEntry(name) != isDefault)
        changed = isDefault ? entry + QStringLiteral(" no longer the default entry")
                            : entry + QStringLiteral(" made the default entry");
    else if (field == Global::FieldNumber && Global::NumberOf(name) != number)
        changed = QStringLiteral("number of %1 changed from %2 to %3").arg(entry, shown(number), shown(Global::NumberOf(name)));
    if (!changed.isEmpty())
        log(LogLimit::Priority::Notice, changed + QStringLiteral(" by ") + who(asked));
}

void GuardService::onClientGone(quint64 client) {
    if (setupOwner_ == client)
        setupOwner_ = 0;
    // Nobody waits for the call any more: it does not go on for nobody.
    if (dialling_ && dialling_->asked.client == client) {
        const Dialling gone = *std::exchange(dialling_, std::nullopt);
        log(LogLimit::Priority::Notice,
            QStringLiteral("hung up the call on %1: %2 that asked for it went away").arg(shown(gone.entry), who(gone.asked)));
        hangUp();
    }
    const auto it = queues_.find(client);
    if (it == queues_.end())
        return;
    // Its authentication dialog goes with it.
    if (it->second.cancel) {
        it->second.cancel();
        userLog_.Write(LogLimit::Priority::Info, it->second.uid, "withdrawn",
                       QStringLiteral("withdrew the question to polkit of %1: its client went away")
                           .arg(LogLimit::Who(it->second.uid)));
    }
    queues_.erase(it);
}

QJsonObject GuardService::snapshot() const {
    const Global::State& state = Global::state;
    const bool connected = state.Connected && rasDial_->IsOnline();
    return {
        {QStringLiteral("ok"), true},
        {QStringLiteral("start_color"), state.StartColor},
        {QStringLiteral("end_color"), state.EndColor},
        {QStringLiteral("top"), topWin_},
        {QStringLiteral("left"), leftWin_},
        {QStringLiteral("phonebook"), state.PhonebookPath},
        {QStringLiteral("connected"), connected},
        {QStringLiteral("entry"), connected ? connectedEntry_ : QString()},
        {QStringLiteral("ip"), connected ? rasDial_->IpAddress() : QString()},
        {QStringLiteral("speed_up"), state.LineSpeedUp},
        {QStringLiteral("speed_down"), state.LineSpeedDown},
        {QStringLiteral("fence"), QJsonArray::fromStringList(rasDial_->FenceLayers())},
    };
}

QJsonObject GuardService::counters() const {
    return {
        {QStringLiteral("ok"), true},
        {QStringLiteral("online"), Global::state.Connected && rasDial_->IsOnline()},
        {QStringLiteral("sent"), rasDial_->BytesSent()},
        {QStringLiteral("received"), rasDial_->BytesReceived()},
        // When the counters were read: a display that gets them late rates them over the real time.
        {QStringLiteral("ms"), double(QDeadlineTimer::current().deadline())},
    };
}

QJsonObject GuardService::dialDefault() {
    const QString entry = Global::state.DefaultEntryName;
    const auto result = [](QLatin1StringView what) {
        return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("result"), what}};
    };
    if (entry.isEmpty())
        return result(P::Dialled::NoDefault);
    if (!Global::IsAuthorised(entry))
        return result(P::Dialled::NotAuthorised);
    const qint16 selected = dialSelected(entry);
    if (selected == DialerControl::Done)
        return result(P::Dialled::Done);
    QJsonObject failed = result(P::Dialled::SelectFailed);
    failed.insert(QStringLiteral("code"), selected);
    failed.insert(QStringLiteral("text"), selected == DialerControl::EntryNotFound ? EntryNotFoundText : QString());
    return failed;
}

qint16 GuardService::dialSelected(const QString& entry) {
    unlockPhonebook();
    // A failed selection would leave the component on the entry selected before, and Dial would
    // call that one instead: the failure is answered as the component reports its errors.
    const qint16 selected = rasDial_->SelectEntry(entry);
    if (selected == DialerControl::Done)
        rasDial_->Dial();
    lockPhonebook();
    return selected;
}

// Whatever the authorisation, as another program's call: the connection events hang up a call on
// an entry that is not authorised, at the device's stage, and the answer waits for the outcome.
void GuardService::dialEntry(const Asked& asked) {
    const QJsonValue name = asked.request.value(QStringLiteral("name"));
    if (!name.isString() || name.toString().isEmpty())
        return fail(asked, P::Error::BadRequest, QStringLiteral("dial_entry needs the entry's name"));
    const QString entry = name.toString();
    // The line takes one call: a second is refused as the line refuses a dial then.
    if (dialling_ || rasDial_->IsBusy())
        return answer(asked, outcomeOf(P::Outcome::Failed, entry, DialerControl::DeviceUnavailable,
                                       DeviceUnavailableText));
    dialling_ = Dialling{asked, entry, {}};
    userLog_.Write(LogLimit::Priority::Info, asked.peer.uid, "dial",
                   QStringLiteral("dialling %1 for %2").arg(shown(entry), who(asked)));
    const qint16 selected = dialSelected(entry);
    // Nothing was dialled: no event will tell.
    if (selected != DialerControl::Done && dialling_)
        endDialling(outcomeOf(P::Outcome::Failed, entry, selected,
                              selected == DialerControl::EntryNotFound ? EntryNotFoundText : QString()));
}

void GuardService::endDialling(QJsonObject outcome) {
    // Taken first: the answer may drop its client, whose leaving must find nothing waiting.
    const Asked asked = std::exchange(dialling_, std::nullopt)->asked;
    answer(asked, std::move(outcome));
}

void GuardService::hangUp() {
    unlockPhonebook();
    rasDial_->HangUp();
    lockPhonebook();
}

void GuardService::position(const Asked& asked) {
    const std::optional<double> top = twips(asked.request.value(QStringLiteral("top")));
    const std::optional<double> left = twips(asked.request.value(QStringLiteral("left")));
    if (!top || !left)
        return fail(asked, P::Error::BadRequest, QStringLiteral("a place is two finite numbers of twips"));
    answer(asked, ok());
    // Per user, not per connection: a new connection for each place would get round the second.
    places_.Set(asked.peer.uid, {*top, *left});
}

void GuardService::writePlace(QPointF place) {
    topWin_ = float(place.x());
    leftWin_ = float(place.y());
    const QString& file = Global::state.SettingsFile;
    Global::UnlockSettingsFile();
    const bool saved =
        Subs::WriteIniValue(file, GeneralSetup, QStringLiteral("TopWin"), Convert::SingleText(float(topWin_))) &&
        Subs::WriteIniValue(file, GeneralSetup, QStringLiteral("LeftWin"), Convert::SingleText(float(leftWin_)));
    Global::LockSettingsFile();
    if (!saved)
        files_.SaveFailed(QStringLiteral("the strip's place could not be written to %1").arg(file));
}

QJsonObject GuardService::openSetup() {
    Global::State& state = Global::state;
    unlockPhonebook();
    NoList list;
    Global::SyncPhonebook(list, *rasDial_);
    lockPhonebook();
    return {
        {QStringLiteral("ok"), true},
        {QStringLiteral("entries"), QJsonArray::fromStringList(state.PhonebookList)},
        {QStringLiteral("start_color"), state.StartColor},
        {QStringLiteral("end_color"), state.EndColor},
    };
}

QJsonObject GuardService::readEntry(const QString& name) {
    unlockPhonebook();
    const qint16 result = rasDial_->SelectEntry(name);
    QJsonObject reply{{QStringLiteral("ok"), true}, {QStringLiteral("result"), result}};
    if (result == DialerControl::Done) {
        reply.insert(QStringLiteral("number"), rasDial_->EntryNumber());
        reply.insert(QStringLiteral("user"), rasDial_->EntryUser());
    }
    lockPhonebook();
    reply.insert(QStringLiteral("known"), Global::IsKnown(name));
    reply.insert(QStringLiteral("authorised"), Global::IsAuthorised(name));
    reply.insert(QStringLiteral("default"), Global::IsDefaultEntry(name));
    reply.insert(QStringLiteral("speed_type"), Global::SpeedTypeOf(name));
    reply.insert(QStringLiteral("speed_up"), Global::SpeedOf(name, true));
    reply.insert(QStringLiteral("speed_down"), Global::SpeedOf(name, false));
    return reply;
}

void GuardService::saveSettings() {
    if (!Global::SaveSettings())
        files_.SaveFailed(QStringLiteral("the settings could not be written to %1, which is left as it was (a full disk?)")
                              .arg(Global::state.SettingsFile));
    QJsonObject saved = eventOf(P::Event::Saved);
    saved.insert(QStringLiteral("start_color"), Global::state.StartColor);
    saved.insert(QStringLiteral("end_color"), Global::state.EndColor);
    server_.broadcast(saved);
}
