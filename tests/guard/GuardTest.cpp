// The guard in the test process on a real socket: start-up, defence, requests, shut-down, who may do
// what, what it tells systemd and what it logs. The socket's limits are the black-box tests'
// (tests/e2e/defence.sh).
#include "../dialer/ModemLine.h"
#include "../dialer/TestApp.h"
#include "dialer/DialerControl.h"
#include "dialer/PppDialer.h"
#include "dialer/SimulatedDialer.h"
#include "guard/Authority.h"
#include "guard/GuardLog.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardServer.h"
#include "guard/GuardService.h"
#include "settings/ConnectionTable.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/ValueEncoding.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <memory>
#include <optional>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

namespace P = GuardProtocol;

// Generous: the machine is shared; no result depends on how long a wait takes.
constexpr int WaitMs = 20000;

// A message as compact JSON, without the version every message carries and the counters' time.
QString text(QJsonObject message) {
    message.remove(u"v"_s);
    message.remove(u"ms"_s);
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

// A dial-up component with a phonebook in memory ("Name=number" rows) that writes every call made
// on it to a log.
class FakeDialer final : public DialerControl {
public:
    explicit FakeDialer(QStringList& log) : log_(log) {}

    QStringList entries =
        u"Provider=0245871200;Office=065551234;Tampered=899000111;Stranger=899000222"_s.split(u';');
    QString phonebookPath;
    // The entry of the call in progress; empty: the selected entry.
    QString callEntry;
    std::optional<QString> callNumber;
    bool online = false;
    qint32 sent = 0, received = 0;
    std::function<void()> onHangUp = [] {}, onDial = [] {};

    QString PhonebookFile() const override { return noted(u"PhonebookFile"_s, phonebookPath); }
    QString EntryName() const override { return callEntry.isEmpty() ? selected_ : callEntry; }
    QString CallNumber() const override {
        const QString number = numberOf(EntryName());
        return callNumber ? *callNumber : number.isNull() ? QString() : u"ATDT"_s + number;
    }
    QString EntryNumber() const override { return noted(u"EntryNumber"_s, numberOf(selected_)); }
    QString EntryUser() const override { return {}; }
    bool IsOnline() const override { return online; }
    bool IsBusy() const override { return online; }
    qint16 EntryCount() const override {
        return noted(u"EntryCount starting=%1"_s.arg(Global::state.StartingUp), qint16(entries.size()));
    }
    QString EntryNameAt(qint16 index) const override { return entries.value(index).section(u'=', 0, 0); }
    QString IpAddress() const override { return u"10.64.0.7"_s; }
    qint16 SelectEntry(const QString& name) override {
        selected_ = numberOf(name).isNull() ? QString() : name;
        return noted(u"SelectEntry "_s + name, qint16(selected_.isEmpty() ? EntryNotFound : Done));
    }
    qint32 BytesReceived() const override { return received; }
    qint32 BytesSent() const override { return sent; }
    void Dial() override {
        log_ << u"Dial"_s;
        onDial();
    }
    void HangUp() override {
        log_ << u"HangUp"_s;
        onHangUp();
    }
    void SetWatchOtherCalls(bool on) override { log_ << u"SetWatchOtherCalls %1"_s.arg(on); }
    void SetReportEveryStage(bool on) override { log_ << u"SetReportEveryStage %1"_s.arg(on); }
    void SetWatchInterval(qint16 ms) override { log_ << u"SetWatchInterval %1"_s.arg(ms); }

private:
    // Null when the phonebook has no such entry.
    QString numberOf(const QString& name) const {
        for (const QString& entry : entries) {
            if (entry.section(u'=', 0, 0) == name)
                return entry.section(u'=', 1);
        }
        return {};
    }
    template <typename T> T noted(const QString& call, T value) const {
        log_ << call;
        return value;
    }

    QStringList& log_;
    QString selected_;
};

// One connection to guard.sock, as a display holds it: the answers and the events it got, in order.
class Client {
public:
    explicit Client(const QString& path) {
        QObject::connect(&socket, &QLocalSocket::readyRead, [this] {
            while (socket.canReadLine()) {
                const QJsonObject line = QJsonDocument::fromJson(socket.readLine()).object();
                (line.contains(u"event"_s) ? told : answers) << line;
            }
        });
        socket.connectToServer(path);
    }

    // The answer, without its id; requests are answered in order.
    QJsonObject ask(QLatin1StringView op, QJsonObject fields = {}) {
        fields.insert(u"v"_s, P::Version);
        fields.insert(u"id"_s, ++lastId);
        fields.insert(u"op"_s, op);
        socket.write(P::Line(fields));
        const bool answered = QTest::qWaitFor(
            [&] { return !answers.isEmpty() && answers.last().value(u"id"_s).toInt() == lastId; }, WaitMs);
        EXPECT_TRUE(answered) << "no answer to " << op.data();
        QJsonObject answer = answered ? answers.last() : QJsonObject();
        answer.remove(u"id"_s);
        return answer;
    }
    // The error of the answer; "ok" when there is none.
    QString error(QLatin1StringView op, const QJsonObject& fields = {}) {
        return ask(op, fields).value(u"error"_s).toString(u"ok"_s);
    }
    // The events so far, one a line, once there are at least count of them.
    QString events(qsizetype count = 0) {
        (void)QTest::qWaitFor([&] { return told.size() >= count; }, WaitMs);
        QStringList seen;
        for (const QJsonObject& event : told)
            seen << text(event);
        return seen.join(u'\n');
    }

    QLocalSocket socket;
    QList<QJsonObject> answers, told;
    int lastId = 0;
};

// The guard of a temporary program folder on a real socket, with a fake line that logs every call
// made on it; the groups of the users and polkit's answers are the test's.
class GuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Global::Reset();
        writeBytes(book, "[Dialer Provider]\nPhone = 0245871200\n");
        GuardLog::Install(logFd);
    }
    void TearDown() override {
        clients.clear();
        service.reset();
        server.reset();
        Global::Reset();
        GuardLog::Install(2);
        qInstallMessageHandler(nullptr);
        ::close(logFd);
    }
    // The guard's log so far, one line each.
    QStringList logged() const { return QString::fromUtf8(readBytes(dir.filePath(u"guard.log"_s))).split(u'\n'); }

    // A fresh guard on the settings given (none: no nv4.ini) and line (none: the fake), started.
    void start(const QByteArray& settings = {}, std::unique_ptr<DialerControl> given = nullptr) {
        service.reset();
        server.reset();
        Global::Reset();
        if (!settings.isEmpty())
            writeBytes(ini, settings);
        server = std::make_unique<GuardServer>();
        QString why;
        ASSERT_TRUE(server->listen(dir.filePath(u"guard.sock"_s), &why)) << why.toStdString();
        auto dialer = std::make_unique<FakeDialer>(log);
        line = dialer.get();
        line->phonebookPath = book;
        GuardService::Options options;
        options.programFolder = dir.path();
        options.endProgram = [this](int status) { ended << status; };
        if (given)
            line = nullptr;
        service = std::make_unique<GuardService>(given ? std::move(given) : std::move(dialer), *server,
                                                 authority, std::move(options));
        service->Start();
    }

    void forget() {
        log.clear();
        for (const auto& client : clients)
            client->told.clear();
    }
    Client& connect() {
        clients.push_back(std::make_unique<Client>(server->path()));
        return *clients.back();
    }

    // nv4.ini, read with the guard's lock released for a moment.
    QByteArray settings() {
        Global::UnlockSettingsFile();
        const QByteArray bytes = readBytes(ini);
        Global::LockSettingsFile();
        return bytes;
    }
    // What another program finds of the phonebook.
    QString phonebookState() const {
        struct stat info {};
        const bool writable =
            ::stat(QFile::encodeName(book).constData(), &info) == 0 && (info.st_mode & S_IWUSR);
        return u"%1 %2"_s.arg(Global::FileExists(book) ? u"readable" : u"locked",
                              writable ? u"writable" : u"read-only");
    }

    // The stored rows of Provider, Office, Tampered (authorised for a number the phonebook no
    // longer has) and Gone (not in the phonebook); authorised where auth holds a 1, the row pred
    // marked default.
    static QByteArray table(const char* auth, int pred = -1) {
        const char* rows[][2] = {{"Provider", "0245871200"},
                                 {"Office", "065551234"},
                                 {"Tampered", "0245871299"},
                                 {"Gone", "0123"}};
        QByteArray out = "[Connections]\r\n";
        for (int i = 0; i < 4; ++i) {
            out += QStringLiteral("ConName%1=%2\r\nConNumber%1=%3\r\nConAuth%1=%4\r\nConPred%1=%5\r\n"
                                  "SpeedType%1=6\r\nSpeedUp%1=%6\r\nSpeedDown%1=%7\r\n")
                       .arg(i)
                       .arg(Global::EncodeValue(QString::fromLatin1(rows[i][0])),
                            Global::EncodeValue(QString::fromLatin1(rows[i][1])),
                            auth[i] == '1' ? u"true" : u"false", i == pred ? u"true" : u"false")
                       .arg(i == 0 ? 32 : 10)
                       .arg(i == 0 ? 230 : 14)
                       .toLatin1();
        }
        return out;
    }

    QTemporaryDir dir{QDir::tempPath() + u"/guard_tests-XXXXXX"_s};
    const int logFd = ::open(QFile::encodeName(dir.filePath(u"guard.log"_s)).constData(),
                             O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const QString ini = dir.filePath(u"nv4.ini"_s);
    const QString book = dir.filePath(u"phonebook.conf"_s);
    QStringList log;
    FakeDialer* line = nullptr;
    QList<int> ended;
    QHash<uid_t, QStringList> groups; // a uid not here has no user
    int polkitAsks = 0;
    Authority::Peer polkitPeer;
    Authority::Done polkitAnswer;
    Authority authority{[this](uid_t uid) -> std::optional<QStringList> {
                            return groups.contains(uid) ? std::optional(groups.value(uid)) : std::nullopt;
                        },
                        [this](const Authority::Peer& peer, Authority::Done done) {
                            ++polkitAsks;
                            polkitPeer = peer;
                            polkitAnswer = std::move(done);
                            return Authority::Cancel();
                        }};
    std::unique_ptr<GuardServer> server;
    std::unique_ptr<GuardService> service;
    std::vector<std::unique_ptr<Client>> clients;
};

namespace Op = GuardProtocol::Op;

const QByteArray Banner = ";Norvale 4.2 - ini file\r\n";
const QByteArray General = "[General Setup]\r\nStartColor= 16711680\r\nEndColor= 65535\r\n";

// pppd cannot bring a link up here (no /dev/ppp): a stand-in runs the call's connect script, the real
// chat, on the modem as pppd does, then tells of the link pppd would bring up.
const QByteArray ChatPppd = R"(#!/bin/bash
for word; do [ "$connect" ] && break; [ "$word" = connect ] && connect=1; done
/bin/sh -c "$word" <"$1" >"$1" || exit 8
printf 'Serial connection established.\nConnect: ppp0\nlocal  IP address 10.64.64.64\n' && exec sleep 600
)";

TEST_F(GuardTest, StartUpLocksThePhonebookLaterThenEveryCallNotAuthorisedIsHungUpOnceDisplaysHear) {
    const QByteArray stored = Banner + General + "TopWin= 1500\r\nLeftWin= 3000\r\n" + table("1011");
    QElapsedTimer clock;
    clock.start();
    start(stored);
    // The phonebook's path for the files a crashed run left locked, the phonebook against the
    // empty table, then the stored authorised rows compared with it.
    EXPECT_EQ(log, split("PhonebookFile;EntryCount starting=1;SelectEntry Provider;EntryNumber;SelectEntry "
                         "Office;EntryNumber;"
                         "SelectEntry Tampered;EntryNumber;SelectEntry Stranger;EntryNumber;"
                         "SelectEntry Provider;EntryNumber;SelectEntry Tampered;EntryNumber;SelectEntry Gone;"
                         "SetWatchOtherCalls 1;SetReportEveryStage 1;SetWatchInterval 100"));
    QStringList rows;
    for (const QString& name : split("Provider;Office;Tampered;Gone;Stranger"))
        rows << name + u'=' + QString::number(Global::IsAuthorised(name));
    EXPECT_EQ(rows.join(u' '), u"Provider=1 Office=0 Tampered=0 Gone=1 Stranger=0"_s);
    EXPECT_EQ(Global::state.ConnectionCount, 4);
    EXPECT_FALSE(Global::FileExists(ini));
    EXPECT_EQ(settings(), stored);
    EXPECT_EQ(phonebookState(), u"readable writable"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Global::FileExists(book); }, WaitMs));
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_EQ(phonebookState(), u"locked read-only"_s);

    // State two and the connect hang up every entry not authorised, once the displays that said hello
    // have heard them.
    Client& display = connect();
    display.ask(Op::Hello);
    Client& silent = connect();
    // The component reports its hang-up at once, from inside HangUp.
    line->onHangUp = [this] {
        emit line->Status(DialerControl::Disconnected);
        emit line->Disconnect();
    };
    const QString hungUp = uR"({"event":"status","state":8193}
{"event":"disconnect"})"_s;
    // After "=": the number the call dials, Provider's own being 0245871200; empty: it cannot be read.
    const QString calls =
        u"Office Stranger Tampered Provider=ATDT024587120 Provider=ATDT0245871200;D0899 Provider="_s;
    for (const QString& call : calls.split(u' ')) {
        SCOPED_TRACE(call.toStdString());
        const QString entry = call.section(u'=', 0, 0);
        line->callEntry = entry;
        if (call.contains(u'='))
            line->callNumber = call.section(u'=', 1);
        forget();
        emit line->Status(DialerControl::ConnectDevice);
        EXPECT_EQ(display.events(3), uR"({"event":"status","state":2})"_s + u'\n' + hungUp);
        forget();
        emit line->Connect();
        EXPECT_EQ(display.events(3),
                  uR"({"authorised":false,"entry":"%1","event":"connect","ip":"10.64.0.7","speed_down":0,)"
                  uR"("speed_up":0})"_s.arg(entry) +
                      u'\n' + hungUp);
        EXPECT_EQ(log, QStringList{u"HangUp"_s});
        EXPECT_FALSE(Global::state.Connected);
    }
    line->callEntry = u"Provider"_s;
    line->callNumber.reset();
    forget();
    emit line->Status(DialerControl::ConnectDevice);
    emit line->Status(DialerControl::Connected);
    emit line->Connect();
    emit line->LastError(633, u"The port is not available."_s, 0);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(Global::state.Connected);
    EXPECT_EQ(display.events(4), uR"({"event":"status","state":2}
{"event":"status","ip":"10.64.0.7","state":8192}
{"authorised":true,"entry":"Provider","event":"connect","ip":"10.64.0.7","speed_down":230,"speed_up":32}
{"code":633,"event":"error","text":"The port is not available."})"_s);
    // Its answer comes after whatever was sent to it before: no event.
    silent.ask(Op::Counters);
    EXPECT_TRUE(silent.told.isEmpty());

    // A display that connects during the call learns what it missed.
    line->online = true;
    line->sent = 1234;
    line->received = 987654;
    const QString snapshot =
        uR"({"connected":%1,"end_color":65535,"entry":"%2","fence":[],"ip":"%3","left":3000,"ok":true,)"
        uR"("phonebook":"%4","speed_down":230,"speed_up":32,"start_color":16711680,"top":1500})"_s;
    EXPECT_EQ(text(silent.ask(Op::Hello)), snapshot.arg(u"true"_s, u"Provider"_s, u"10.64.0.7"_s, book));
    EXPECT_EQ(text(silent.ask(Op::Counters)),
              uR"({"ok":true,"online":true,"received":987654,"sent":1234})"_s);
    line->online = false;
    emit line->Disconnect();
    EXPECT_EQ(text(silent.ask(Op::Hello)), snapshot.arg(u"false"_s, QString(), QString(), book));
}

TEST_F(GuardTest, APlaceIsWrittenAtOnceThenAtMostOnceASecondTheNewestLast) {
    start();
    Client& display = connect();
    const auto place = [&](const QJsonValue& top, const QJsonValue& left) {
        return display.error(Op::Position, {{u"top"_s, top}, {u"left"_s, left}});
    };
    EXPECT_EQ(place(u"1500"_s, 3000), u"bad_request"_s);
    EXPECT_EQ(place(1500, QJsonValue::Undefined), u"bad_request"_s);
    EXPECT_EQ(settings(), Banner);

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(place(1500, 3000), u"ok"_s);
    const QByteArray first = Banner + "[General Setup]\r\nTopWin= 1500\r\nLeftWin= 3000\r\n";
    EXPECT_EQ(settings(), first);
    place(0, 15);
    // Nor does a new connection of the same user get round the second.
    EXPECT_EQ(connect().error(Op::Position, {{u"top"_s, 30}, {u"left"_s, 60}}), u"ok"_s);
    EXPECT_EQ(settings(), first);
    place(-1440.0 / 132 * 8, 1e9); // at 132 dpi; beyond X11's coordinates
    EXPECT_EQ(settings(), first);
    const QByteArray newest = Banner + "[General Setup]\r\nTopWin=-87.27273\r\nLeftWin= 491505\r\n";
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings() == newest; }, WaitMs));
    EXPECT_GE(clock.elapsed(), 900);
}

TEST_F(GuardTest, DialDefaultAnswersAndReleasesThePhonebookOnlyAroundTheDial) {
    const struct {
        int pred;
        const char* answer;
        const char* calls;
    } rows[] = {
        {-1, R"({"ok":true,"result":"no_default"})", ""},
        {1, R"({"ok":true,"result":"not_authorised"})", ""},
        {0, R"({"ok":true,"result":"dialled"})", "SelectEntry Provider;Dial"},
        {3,
         R"({"code":623,"ok":true,"result":"select_failed","text":"The system could not find the phone book )"
         R"(entry for this connection."})",
         "SelectEntry Gone"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer);
        start(Banner + table("1011", row.pred));
        service->tmrLock_Timer();
        log.clear();
        QString atDial;
        line->onDial = [&] { atDial = phonebookState(); };
        EXPECT_EQ(text(connect().ask(Op::DialDefault)), QString::fromUtf8(row.answer));
        EXPECT_EQ(log.join(u';'), QString::fromUtf8(row.calls));
        EXPECT_EQ(atDial, log.contains(u"Dial"_s) ? u"readable writable"_s : QString());
        EXPECT_EQ(phonebookState(), u"locked read-only"_s);
    }
}

TEST_F(GuardTest, OneSetupAtATimeItsDialIsAuthorisedItsSaveAndTheStopReachEveryDisplay) {
    start(Banner + General + table("1011"));
    service->tmrLock_Timer();
    Client& a = connect();
    Client& b = connect();
    a.ask(Op::Hello);
    b.ask(Op::Hello);
    EXPECT_EQ(a.ask(Op::SetupOpen).value(u"entries"_s).toVariant().toStringList(),
              split("Provider;Office;Tampered;Stranger"));
    EXPECT_EQ(b.error(Op::SetupOpen), u"busy"_s);
    EXPECT_EQ(a.error(Op::SetupClose), u"ok"_s);
    EXPECT_EQ(a.error(Op::SetupSave), u"no_setup"_s);
    Client& c = connect();
    EXPECT_EQ(c.error(Op::SetupOpen), u"ok"_s);
    EXPECT_EQ(a.error(Op::SetupOpen), u"busy"_s);
    c.socket.abort(); // its display ends without closing the setup
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 2; }, WaitMs));
    EXPECT_EQ(a.error(Op::SetupOpen), u"ok"_s);

    a.ask(Op::SetupField, {{u"name"_s, u"Office"_s}, {u"field"_s, 0}, {u"value"_s, true}});
    a.ask(Op::SetupField, {{u"name"_s, u"Office"_s}, {u"field"_s, 3}, {u"value"_s, u"065551234"_s}});
    a.ask(Op::SetupField, {{u"name"_s, u"Gone"_s}, {u"field"_s, 0}, {u"value"_s, false}});
    a.ask(Op::SetupField, {{u"name"_s, u"Office"_s}, {u"field"_s, 2}, {u"value"_s, true}});
    forget();
    QString atDial;
    line->onDial = [&] { atDial = phonebookState(); };
    EXPECT_EQ(a.error(Op::SetupDial, {{u"name"_s, u"Office"_s}}), u"ok"_s);
    EXPECT_EQ(atDial, u"readable read-only"_s);
    EXPECT_EQ(phonebookState(), u"locked read-only"_s);
    emit line->Status(DialerControl::ConnectDevice);
    emit line->Connect();
    EXPECT_EQ(log, split("SelectEntry Office;Dial"));
    EXPECT_TRUE(Global::state.Connected);
    a.ask(Op::SetupColours, {{u"start"_s, 1}, {u"end"_s, 2}});
    a.ask(Op::SetupSave);
    for (Client* display : {&a, &b})
        EXPECT_EQ(display->events(4), uR"({"end_color":65535,"event":"saved","start_color":16711680}
{"event":"status","state":2}
{"authorised":true,"entry":"Office","event":"connect","ip":"10.64.0.7","speed_down":14,"speed_up":10}
{"end_color":2,"event":"saved","start_color":1})"_s);
    EXPECT_EQ(settings(), Banner + "[General Setup]\r\nStartColor= 1\r\nEndColor= 2\r\n" + table("1100", 1));

    // The stop is answered, saves what changed since, tells every display and releases both files.
    a.ask(Op::SetupColours, {{u"start"_s, 3}, {u"end"_s, 4}});
    forget();
    EXPECT_EQ(b.error(Op::Stop), u"ok"_s);
    for (Client* display : {&a, &b})
        EXPECT_EQ(display->events(1), uR"({"event":"stopped"})"_s);
    EXPECT_EQ(ended, QList<int>{0});
    EXPECT_EQ(phonebookState(), u"readable writable"_s);
    EXPECT_TRUE(Global::FileExists(ini));
    EXPECT_EQ(readBytes(ini), Banner + "[General Setup]\r\nStartColor= 3\r\nEndColor= 4\r\n" + table("1100", 1));
    // Each administrator's action names who did it; the number set as it was is no change.
    const QString by = u" uid 0 (root, pid %1)"_s.arg(::getpid());
    QStringList audit = uR"(setup opened by@;setup closed by@;setup opened by@;setup opened by@;"Office" authorised by@;
authorisation of "Gone" revoked by@;"Office" made the default entry by@;dialling "Office" from the setup for@;
colours changed from 16711680 and 65535 to 1 and 2 by@;settings saved by@;colours changed from 1 and 2 to 3 and 4 by@;
stopped by@)"_s.remove(u'\n').replace(u'@', by).split(u';');
    EXPECT_EQ(logged().filter(by), audit.replaceInStrings(QRegularExpression(u"^"_s), u"norvale-guard: "_s));
}

TEST_F(GuardTest, GroupsDecideWhoMayDialAndPolkitConfirmsAnAdministratorButRoot) {
    for (const QString& user : split("1001=users sudo;1002=wheel;1003=admin;1004=dip;1005=users"))
        groups.insert(user.section(u'=', 0, 0).toUInt(), user.section(u'=', 1).split(u' '));
    QStringList rights; // 1006 has no user
    for (const uid_t uid : {0u, 1001u, 1002u, 1003u, 1004u, 1005u, 1006u})
        rights << u"%1:%2%3"_s.arg(uid).arg(authority.mayDial(uid)).arg(authority.inAdministratorGroup(uid));
    EXPECT_EQ(rights.join(u' '), u"0:11 1001:11 1002:11 1003:11 1004:10 1005:00 1006:00"_s);

    std::optional<bool> granted;
    const auto confirm = [&](Authority::Peer peer) {
        granted.reset();
        authority.confirmAdministrator(
            peer, [&](const Authority::Answer& a) { granted = a.verdict == Authority::Verdict::Granted; });
        return granted;
    };
    EXPECT_EQ(confirm({0, 0, 0}), true);
    EXPECT_EQ(confirm({1004, 4242, 777}), false);
    EXPECT_EQ(confirm({1002, 4242, 0}), false); // the process is gone
    // A member of an administrators' group waits for polkit (the test below).
    EXPECT_EQ(confirm({1002, 4242, 777}), std::nullopt);
    EXPECT_EQ(polkitAsks, 1);
}

// Another user, a member of sudo, through the real socat: polkit is asked about that very process;
// what needs no administrator is answered meanwhile, and what came after the question shares its answer.
TEST_F(GuardTest, WhilePolkitIsAskedAboutALiveProcessOnlyTheSetupAndStopWaitAndShareItsAnswer) {
    const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    if (!nobody)
        GTEST_SKIP() << "connecting as another user needs root and the user nobody";
    groups.insert(nobody->pw_uid, {u"sudo"_s});
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0705), 0); // guard.sock's folder open to it
    start(Banner + table("1011"));
    QProcess client;
    client.start(u"setpriv"_s, {u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s, u"socat"_s,
                                u"-"_s, u"UNIX-CONNECT:"_s + server->path()});
    ASSERT_TRUE(client.waitForStarted());
    int id = 0;
    for (const char* op : {"setup_open", "counters", "setup_close", "hello"})
        client.write(P::Line({{u"v"_s, 1}, {u"id"_s, ++id}, {u"op"_s, QString::fromLatin1(op)}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return polkitAsks == 1; }, WaitMs));
    EXPECT_EQ(
        std::tuple(polkitPeer.uid, qint64(polkitPeer.pid), polkitPeer.startTime),
        std::tuple(nobody->pw_uid, client.processId(), Authority::StartTimeOf(pid_t(client.processId()))));
    QByteArray out;
    const auto lines = [&](int count) {
        return QTest::qWaitFor([&] { return (out += client.readAllStandardOutput()).count('\n') >= count; }, WaitMs);
    };
    ASSERT_TRUE(lines(2)); // while polkit is asked
    std::exchange(polkitAnswer, nullptr)({.verdict = Authority::Verdict::Granted});
    // One stop asks, sixteen wait behind it and share its answer, one more is turned away at once.
    while (id < 22)
        client.write(P::Line({{u"v"_s, 1}, {u"id"_s, ++id}, {u"op"_s, u"stop"_s}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return polkitAsks == 2; }, WaitMs)); // for the stop
    ASSERT_TRUE(lines(5));
    // polkit that could not be asked: why, with what pkcheck said, in the log and the answer.
    const QString noAgent = u"Authorization requires authentication but no agent is available."_s;
    std::exchange(polkitAnswer, nullptr)(
        {.verdict = Authority::Verdict::Unavailable, .reason = P::Unavailable::NoAgent, .status = 2, .said = noAgent});
    ASSERT_TRUE(lines(22));
    EXPECT_EQ(logged().filter(u"polkit could not be asked"_s),
              QStringList{u"norvale-guard: refused the stop to uid %1 (%2, pid %3): polkit could not be asked: no "
                          "authentication agent runs for the user: "_s.arg(nobody->pw_uid).arg(nobody->pw_name)
                              .arg(client.processId()) + noAgent});
    EXPECT_TRUE(out.contains(R"("error":"auth_unavailable","id":5,"message":"polkit could not be asked","ok":false,"reason":"no_agent")"));
    QStringList answers;
    for (const QByteArray& answer : out.trimmed().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(answer).object();
        answers
            << u"%1 %2"_s.arg(object.value(u"id"_s).toInt()).arg(object.value(u"error"_s).toString(u"ok"_s));
    }
    QString expected = u"2 ok;4 ok;1 ok;3 ok;22 busy"_s; // the setup was open for the close behind it
    for (int i = 5; i < 22; ++i)
        expected += u";%1 auth_unavailable"_s.arg(i);
    EXPECT_EQ(answers, expected.split(u';'));
    EXPECT_EQ(polkitAsks, 2);
    client.kill();
    client.waitForFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 0; }, WaitMs));

    // A process that has ended by the time the guard takes its connection, its request sent: its pid
    // may name another process by then (here a zombie, whose start time can still be read), and
    // polkit would be asked about that process. A member of sudo is then no administrator.
    bool gone = false;
    QObject::connect(server.get(), &GuardServer::clientGone, [&] { gone = true; });
    const QString request = dir.filePath(u"request"_s);
    writeBytes(request, P::Line({{u"v"_s, 1}, {u"id"_s, 1}, {u"op"_s, u"setup_open"_s}}));
    const QByteArray from = QFile::encodeName(u"OPEN:"_s + request);
    const QByteArray to = QFile::encodeName(u"UNIX-CONNECT:"_s + server->path());
    const pid_t child = ::fork(); // not a QProcess, which would reap it
    if (child == 0) {
        ::execl("/usr/bin/setpriv", "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "socat",
                "-u", from.constData(), to.constData(), nullptr);
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    siginfo_t zombie{};
    ASSERT_EQ(::waitid(P_PID, id_t(child), &zombie, WEXITED | WNOWAIT), 0); // not reaped
    ASSERT_EQ(zombie.si_status, 0);
    ASSERT_NE(Authority::StartTimeOf(child), 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return gone || polkitAsks > 2; }, WaitMs));
    EXPECT_EQ(polkitAsks, 2);
    ::waitpid(child, nullptr, 0);
}

// A dial's answer waits for the call's outcome and holds nobody meanwhile, and its call goes with its
// client. Then the real norvale-line on either line, the real one's chat against the modem emulator:
// an entry not authorised is hung up at the device's stage before any digit reaches the modem, the
// displays told that call's stages and nothing after them.
TEST_F(GuardTest, DialEntryAnswersWithTheOutcomeOnEitherLineHoldsNobodyAndOnlyForThoseWhoMayDial) {
    ModemLine modem;
    ASSERT_TRUE(modem.isReady());
    writeBytes(book, "[Dialer Defaults]\nModem = " + modem.device().toUtf8() +
                         "\n[Dialer Provider]\nPhone = 0245871200\n[Dialer Office]\nPhone = 065551234\n");
    groups.insert(::getuid(), {u"dip"_s});
    start(Banner + table("1011"));
    line->onDial = [&] { line->online = true; };
    Client& a = connect();
    a.socket.write(P::Line({{u"v"_s, 1}, {u"id"_s, 1}, {u"op"_s, Op::DialEntry}, {u"name"_s, u"Office"_s}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return line->online; }, WaitMs));
    EXPECT_EQ(text(connect().ask(Op::Counters)), uR"({"ok":true,"online":false,"received":0,"sent":0})"_s);
    EXPECT_EQ(connect().ask(Op::DialEntry, {{u"name"_s, u"Office"_s}}).value(u"code"_s).toInt(), 633);
    EXPECT_TRUE(a.answers.isEmpty());
    a.socket.abort();
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.endsWith(u"HangUp"_s); }, WaitMs));

    writeBytes(dir.filePath(u"dialer.conf"_s), "stage_ms=1\n");
    const DialerSettings ppp{.backend = DialerSettings::Backend::Ppp, .phonebook = book,
                             .pppd = dir.filePath(u"pppd"_s), .runFolder = dir.filePath(u"run"_s),
                             .allow = {u"/usr/bin/socat"_s, NORVALE_MODEM_EMULATOR}};
    writeBytes(ppp.pppd, ChatPppd);
    QFile::setPermissions(ppp.pppd, QFile::ReadOwner | QFile::ExeOwner);
    // Its exit status and what it printed, as this process's user or as the one setpriv's options make;
    // the guard in this process goes on meanwhile.
    const auto dial = [&](const QString& name, const QStringList& as = {}) {
        QProcess norvaleLine;
        norvaleLine.start(u"setpriv"_s, as + QStringList{QString::fromUtf8(NORVALE_LINE), u"--guard-socket"_s,
                                                         server->path(), u"dial"_s, name});
        (void)QTest::qWaitFor([&] { return norvaleLine.state() == QProcess::NotRunning; }, WaitMs);
        const QString said = QString::fromUtf8(norvaleLine.readAllStandardOutput()).trimmed();
        return QString::number(norvaleLine.exitCode()) + u' ' + said;
    };
    for (const bool real : {false, true}) {
        SCOPED_TRACE(real ? "real line" : "built-in line");
        start(Banner + table("1011"),
              real ? std::unique_ptr<DialerControl>(std::make_unique<PppDialer>(ppp))
                   : std::make_unique<SimulatedDialer>(DialerSettings::read(dir.path()), dir.path()));
        Client& display = connect();
        display.ask(Op::Hello);
        EXPECT_EQ(dial(u"Office"_s), u"1 hung up: Office (error 631): not authorised"_s);
        EXPECT_EQ(display.events(3), uR"({"event":"status","state":0}
{"event":"status","state":1}
{"event":"status","state":2})"_s);
        EXPECT_EQ(modem.received(), QStringList{});
        EXPECT_EQ(dial(u"Provider"_s), u"0 connected: Provider"_s);
        EXPECT_EQ(modem.received().filter(u"ATD"_s), real ? QStringList{u"ATDT0245871200"_s} : QStringList{});
    }
    service->rasDial().HangUp();
    if (::geteuid() != 0 || !::getpwnam("nobody"))
        GTEST_SKIP() << "dialling as another user needs root and the user nobody";
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0705), 0);
    EXPECT_EQ(dial(u"Provider"_s, {u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s}),
              u"2 refused: only root and the groups dip, sudo, wheel and admin may dial"_s);
    EXPECT_EQ(logged().filter(QRegularExpression(u"^norvale-guard: refused dial_entry to uid \\d+ \\(nobody, pid \\d+\\): "
                                                 "not allowed to dial$"_s)).size(), 1);
}

} // namespace

// A settings file the guard cannot lock (its folder is open to its group) and cannot write (an
// administrator's own immutable flag, which the guard leaves alone): every display hears both, a
// display that says hello later the one standing.
TEST_F(GuardTest, ReducedProtectionAndAFailedSaveReachEveryDisplayAlsoOneThatComesLater) {
    writeBytes(ini, Banner);
    const int fd = ::open(QFile::encodeName(ini).constData(), O_RDONLY | O_CLOEXEC);
    int flags = FS_IMMUTABLE_FL;
    if (fd < 0 || ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
        GTEST_SKIP() << "needs a file system with the immutable flag, and root";
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0770), 0);
    start();
    const QString reduced = u"{\"event\":\"notice\",\"text\":\"Protezione ridotta: "_s + ini + u"\"}"_s;
    Client& first = connect();
    first.ask(Op::Hello);
    EXPECT_EQ(first.events(1), reduced);
    EXPECT_EQ(first.error(Op::Position, {{u"top"_s, 15}, {u"left"_s, 30}}), u"ok"_s);
    const QString unsaved = u"{\"event\":\"notice\",\"text\":\"Impossibile salvare le impostazioni.\"}"_s;
    EXPECT_EQ(first.events(2), reduced + u'\n' + unsaved);
    Client& later = connect();
    later.ask(Op::Hello);
    EXPECT_EQ(later.events(1), unsaved);
    EXPECT_EQ(readBytes(ini), Banner);
    flags = 0;
    EXPECT_EQ(::ioctl(fd, FS_IOC_GETFLAGS, &flags), 0);
    EXPECT_TRUE(flags & FS_IMMUTABLE_FL);
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
}

// Under systemd. The notify socket is the test's: READY=1 once nv4.ini is locked (looked at as the
// datagram arrives, while the guard may still be starting), pings from the event loop's own timer and
// none while that loop is blocked for three watchdog periods, STOPPING=1 at the shut-down. The log is
// the journal's stream: every line, Qt's messages of the guard's parts too, carries its priority.
TEST_F(GuardTest, UnderSystemdReadyFollowsTheSettingsLockPingsComeFromTheEventLoopLinesHavePriorities) {
    const QByteArray path = QFile::encodeName(dir.filePath(u"notify"_s));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const timeval wait{WaitMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const auto heard = [fd](int flags) {
        char datagram[64];
        const ssize_t n = ::recv(fd, datagram, sizeof datagram, flags);
        return n > 0 ? QByteArray(datagram, n) : QByteArray();
    };
    const auto drain = [&] {
        QByteArrayList all;
        for (QByteArray one; !(one = heard(MSG_DONTWAIT)).isEmpty();)
            all << one;
        return all.join(' ');
    };
    struct stat log {};
    ASSERT_EQ(::fstat(logFd, &log), 0);
    qputenv("NOTIFY_SOCKET", path);
    qputenv("WATCHDOG_USEC", "300000"); // a ping every 100 ms
    qputenv("JOURNAL_STREAM", QByteArray::number(log.st_dev) + ':' + QByteArray::number(log.st_ino));
    GuardLog::Install(logFd);
    const auto unset = qScopeGuard([] {
        for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "JOURNAL_STREAM"})
            qunsetenv(name);
    });
    QByteArray first;
    bool lockedAtFirst = false;
    std::thread reader([&] {
        first = heard(0);
        lockedAtFirst = ::access(QFile::encodeName(ini).constData(), W_OK) != 0;
    });
    start(Banner + table("1011"));
    reader.join();
    EXPECT_EQ(first, "READY=1");
    EXPECT_TRUE(lockedAtFirst);
    EXPECT_TRUE(QTest::qWaitFor([&] { return drain().contains("WATCHDOG=1"); }, WaitMs));
    QByteArray duringBlock = "not run";
    QTimer::singleShot(0, [&] {
        drain();
        QThread::msleep(900);
        duringBlock = drain();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return duringBlock != "not run"; }, WaitMs));
    EXPECT_EQ(duringBlock, "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return drain().contains("WATCHDOG=1"); }, WaitMs));
    service->Shutdown();
    EXPECT_EQ(drain(), "STOPPING=1");
    ::close(fd);
    qCritical("failed");
    qWarning("reduced");
    GuardLog::Notice(u"refused\nby\u0085root"_s); // NEL ends a line for some readers
    qDebug("detail");
    // JOURNAL_STREAM that names another file: plain lines.
    qputenv("JOURNAL_STREAM", QByteArray::number(log.st_dev) + ":1");
    GuardLog::Install(logFd);
    qInfo("plain");
    // The init script's syslog takes the priorities too.
    qputenv("NORVALE_LOG_PREFIX", "priority");
    GuardLog::Install(logFd);
    qInfo("syslog");
    // logger would send what lies past 1 KiB as a message of its own: cut whole characters first.
    GuardLog::Notice(QString(2000, QChar(0xE8)));
    qunsetenv("NORVALE_LOG_PREFIX");
    const QStringList lines = QStringList{u"<5>\"Tampered\" lost its authorisation: its number changed"_s,
                                          u"<6>guarding %1/ (phonebook %2)"_s.arg(dir.path(), book)} +
                              split("<6>settings saved, files released;<3>failed;<4>reduced;<5>refused by?root;"
                                    "<7>detail;norvale-guard: plain;<6>syslog") +
                              QStringList{u"<5>"_s + QString(477, QChar(0xE8)) + u"..."_s, {}};
    EXPECT_EQ(logged(), lines);
}

// A fake pkcheck in the place of the real one, ending in each way pkcheck(1) knows and a few more.
TEST(AuthorityTest, EachWayPkcheckCannotAskIsAReasonOfItsOwnACancelledDialogARefusal) {
    QTemporaryDir dir;
    const QString pkcheck = dir.filePath(u"pkcheck"_s);
    QStringList answers;
    for (const char* ending : {"exit 0", "echo 'Not authorized.' >&2; exit 1", "echo 'Authentication request was "
                               "dismissed.' >&2; exit 3", "echo 'Authorization requires authentication but no agent "
                               "is available.' >&2; exit 2", "echo 'Error getting authority: Could not connect: No such"
                               " file or directory' >&2; exit 126", "echo 'Error checking for authorization x: "
                               "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown' >&2; exit 127", "exit 126",
                               "exit 4", "kill -SEGV $$", "missing"}) {
        writeBytes(pkcheck, "#!/bin/sh\n" + QByteArray(ending) + '\n');
        QFile::setPermissions(pkcheck, QFile::ReadOwner | QFile::ExeOwner);
        if (ending == "missing"_ba)
            QFile::remove(pkcheck);
        Authority authority([](uid_t) { return std::optional(QStringList{u"sudo"_s}); },
                            Authority::Pkcheck(WaitMs, pkcheck));
        std::optional<Authority::Answer> got;
        authority.confirmAdministrator({1000, ::getpid(), Authority::StartTimeOf(::getpid())},
                                       [&](const Authority::Answer& answer) { got = answer; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, WaitMs));
        answers << u"%1 %2 %3 %4"_s.arg(int(got->verdict)).arg(got->reason).arg(got->status).arg(got->said.left(12));
    }
    EXPECT_EQ(answers, split("0  0 ;1  1 Not authoriz;1  3 Authenticati;4 no_agent 2 Authorizatio;4 no_polkit 126 Error gettin;"
                             "4 no_polkit 127 Error checki;4 status 126 ;4 status 4 ;4 signal 11 ;4 no_pkcheck 0 execvp: No s"));
}
