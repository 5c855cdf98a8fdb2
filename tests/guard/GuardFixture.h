#pragma once

#include "../dialer/TestApp.h"
#include "dialer/DialerControl.h"
#include "guard/Authority.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardServer.h"
#include "guard/GuardService.h"
#include "settings/ConnectionTable.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/ValueEncoding.h"

#include <QDir>
#include <QHash>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <sys/stat.h>

namespace P = GuardProtocol;

// Generous: the machine is shared; no result depends on how long a wait takes.
inline constexpr int WaitMs = 20000;

// A message as compact JSON, without the version every message carries.
inline QString text(QJsonObject message) {
    message.remove(QStringLiteral("v"));
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

// A dial-up component with a phonebook in memory that writes every call made on it to a log.
class FakeDialer final : public DialerControl {
    Q_OBJECT

public:
    struct Entry {
        QString name, number;
    };

    explicit FakeDialer(QStringList& log) : log_(log) {}

    QList<Entry> entries;
    QString phonebookPath;
    // The entry of the call in progress; empty: the selected entry.
    QString callEntry;
    std::optional<QString> callNumber;
    bool online = false;
    qint32 sent = 0, received = 0;
    std::function<void()> onHangUp = [] {}, onDial = [] {};

    QString PhonebookFile() const override { return noted(QStringLiteral("PhonebookFile"), phonebookPath); }
    QString EntryName() const override { return callEntry.isEmpty() ? selected_.name : callEntry; }
    // The number of the call's entry unless callNumber says otherwise.
    QString CallNumber() const override {
        if (callNumber)
            return *callNumber;
        for (const Entry& entry : entries) {
            if (entry.name == EntryName())
                return QStringLiteral("ATDT") + entry.number;
        }
        return {};
    }
    QString EntryNumber() const override { return noted(QStringLiteral("EntryNumber"), selected_.number); }
    QString EntryUser() const override { return {}; }
    bool IsOnline() const override { return online; }
    qint16 EntryCount() const override {
        return noted(QStringLiteral("EntryCount starting=%1").arg(Global::state.StartingUp),
                     qint16(entries.size()));
    }
    QString EntryNameAt(qint16 index) const override { return entries.value(index).name; }
    QString IpAddress() const override { return QStringLiteral("10.64.0.7"); }
    qint16 SelectEntry(const QString& name) override {
        selected_ = {};
        for (const Entry& entry : entries) {
            if (entry.name == name)
                selected_ = entry;
        }
        return noted(QStringLiteral("SelectEntry ") + name,
                     qint16(selected_.name.isEmpty() ? EntryNotFound : Done));
    }
    qint32 BytesReceived() const override { return received; }
    qint32 BytesSent() const override { return sent; }
    void Dial() override {
        log_ << QStringLiteral("Dial");
        onDial();
    }
    void HangUp() override {
        log_ << QStringLiteral("HangUp");
        onHangUp();
    }
    void SetWatchOtherCalls(bool on) override { log_ << QStringLiteral("SetWatchOtherCalls %1").arg(on); }
    void SetReportEveryStage(bool on) override { log_ << QStringLiteral("SetReportEveryStage %1").arg(on); }
    void SetWatchInterval(qint16 ms) override { log_ << QStringLiteral("SetWatchInterval %1").arg(ms); }

private:
    template <typename T> T noted(const QString& call, T value) const {
        log_ << call;
        return value;
    }

    QStringList& log_;
    Entry selected_;
};

// One connection to guard.sock, as a display holds it: every line it got, in order.
class Client {
public:
    explicit Client(const QString& path) {
        QObject::connect(&socket, &QLocalSocket::readyRead, [this] {
            while (socket.canReadLine())
                lines << QJsonDocument::fromJson(socket.readLine()).object();
        });
        socket.connectToServer(path);
    }

    void send(QLatin1StringView op, QJsonObject fields = {}) {
        fields.insert(QStringLiteral("v"), P::Version);
        fields.insert(QStringLiteral("id"), ++lastId);
        fields.insert(QStringLiteral("op"), op);
        socket.write(P::Line(fields));
    }
    // The answer, without its id.
    QJsonObject ask(QLatin1StringView op, const QJsonObject& fields = {}) {
        send(op, fields);
        QJsonObject found;
        const bool answered = QTest::qWaitFor(
            [&] {
                for (const QJsonObject& line : lines) {
                    if (line.value(QStringLiteral("id")).toInt() == lastId)
                        found = line;
                }
                return !found.isEmpty();
            },
            WaitMs);
        EXPECT_TRUE(answered) << "no answer to " << op.data();
        found.remove(QStringLiteral("id"));
        return found;
    }
    // The error of the answer; "ok" when there is none.
    QString error(QLatin1StringView op, const QJsonObject& fields = {}) {
        return ask(op, fields).value(QStringLiteral("error")).toString(QStringLiteral("ok"));
    }
    // The events so far, one a line, once there are at least count of them.
    QString events(qsizetype count = 0) {
        QStringList seen;
        (void)QTest::qWaitFor(
            [&] {
                seen.clear();
                for (const QJsonObject& line : lines) {
                    if (line.contains(QStringLiteral("event")))
                        seen << text(line);
                }
                return seen.size() >= count;
            },
            WaitMs);
        return seen.join(u'\n');
    }

    QLocalSocket socket;
    QList<QJsonObject> lines;
    int lastId = 0;
};

// The guard of a temporary program folder on a real socket, with a fake line that logs every call
// made on it; the groups of the users and polkit's answers are the test's.
class GuardFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Global::Reset();
        writeBytes(book, "[Dialer Provider]\nPhone = 0245871200\n");
    }
    void TearDown() override {
        clients.clear();
        service.reset();
        server.reset();
        Global::Reset();
    }

    // A fresh guard on the settings given (none: no nv4.ini), started.
    void start(const QByteArray& settings = {}) {
        service.reset();
        server.reset();
        Global::Reset();
        if (!settings.isEmpty())
            writeBytes(ini, settings);
        server = std::make_unique<GuardServer>();
        QString why;
        ASSERT_TRUE(server->listen(dir.filePath(QStringLiteral("guard.sock")), &why)) << why.toStdString();
        auto dialer = std::make_unique<FakeDialer>(log);
        line = dialer.get();
        line->phonebookPath = book;
        for (const QString& entry :
             split("Provider=0245871200;Office=065551234;Tampered=899000111;Stranger=899000222"))
            line->entries.append({entry.section(u'=', 0, 0), entry.section(u'=', 1)});
        GuardService::Options options;
        options.programFolder = dir.path();
        options.version = [this] { return version; };
        options.endProgram = [this](int status) { ended << status; };
        service = std::make_unique<GuardService>(std::move(dialer), *server, authority, std::move(options));
        service->Start();
    }

    // Forgets what the line and the clients saw so far.
    void forget() {
        log.clear();
        for (const auto& client : clients)
            client->lines.clear();
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
        return QStringLiteral("%1 %2").arg(Global::FileExists(book) ? u"readable" : u"locked",
                                           writable ? u"writable" : u"read-only");
    }

    static QStringList split(const char* items) { return QString::fromUtf8(items).split(u';'); }

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

    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/guard_tests-XXXXXX")};
    const QString ini = dir.filePath(QStringLiteral("nv4.ini"));
    const QString book = dir.filePath(QStringLiteral("phonebook.conf"));
    QStringList log;
    FakeDialer* line = nullptr;
    QList<int> ended;
    quint32 version = 0x0106; // 6.1
    QHash<uid_t, QStringList> groups; // a uid not here has no user
    int polkitAsks = 0;
    Authority::Peer polkitPeer;
    std::function<void(bool)> polkitAnswer;
    Authority authority{[this](uid_t uid) -> std::optional<QStringList> {
                            if (!groups.contains(uid))
                                return std::nullopt;
                            return groups.value(uid);
                        },
                        [this](const Authority::Peer& peer, std::function<void(bool)> done) {
                            ++polkitAsks;
                            polkitPeer = peer;
                            polkitAnswer = std::move(done);
                        }};
    std::unique_ptr<GuardServer> server;
    std::unique_ptr<GuardService> service;
    std::vector<std::unique_ptr<Client>> clients;
};
