#pragma once

// The guard of a temporary program folder in the test process, on a real socket, with a fake line;
// and a display's connection to it.
#include "../dialer/TestApp.h"
#include "dialer/DialerControl.h"
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

namespace P = GuardProtocol;

// Generous: the machine is shared; no result depends on how long a wait takes.
constexpr int WaitMs = 20000;

// A message as compact JSON, without the version every message carries and the counters' time.
inline QString text(QJsonObject message) {
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

    // A fresh guard on the settings given (none: no nv4.ini) and the fake line, started.
    void start(const QByteArray& settings = {}) {
        service.reset();
        server.reset();
        Global::Reset();
        if (!settings.isEmpty())
            writeBytes(ini, settings);
        server = std::make_unique<GuardServer>();
        server->keepRoomFor([this](uid_t uid) { return authority.inAdministratorGroup(uid); });
        QString why;
        ASSERT_TRUE(server->listen(dir.filePath(u"guard.sock"_s), &why)) << why.toStdString();
        auto dialer = std::make_unique<FakeDialer>(log);
        line = dialer.get();
        line->phonebookPath = book;
        GuardService::Options options;
        options.programFolder = dir.path();
        options.endProgram = [this](int status) { ended << status; };
        service = std::make_unique<GuardService>(std::move(dialer), *server, authority, std::move(options));
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
