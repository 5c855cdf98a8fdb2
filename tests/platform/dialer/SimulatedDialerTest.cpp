#include "platform/dialer/SimulatedDialer.h"
#include "platform/FileGuard.h"
#include "platform/dialer/DialerSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Generous: the machine is shared; nothing below depends on how long a wait takes.
constexpr int WaitMs = 20000;

int appArgc = 1;
char appName[] = "dialer_simulated_tests";
char* appArgv[] = {appName, nullptr};
std::unique_ptr<QCoreApplication> app;

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { app = std::make_unique<QCoreApplication>(appArgc, appArgv); }
    void TearDown() override { app.reset(); }
};
const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

const QByteArray Book = "[Dialer Defaults]\n"
                        "Username = guest\n"
                        "[Dialer Provider]\n"
                        "Phone = 0245871200\n"
                        "Username = mario\n"
                        "[Dialer Backup]\n"
                        "Inherits = Dialer Provider\n"
                        "Area Code = 02\n"
                        "Phone = 999\n";

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct LineRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the real norvale-line while this event loop keeps serving the socket.
LineRun runLine(const QStringList& args, const QString& workingFolder = QString()) {
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.start(QStringLiteral(NORVALE_LINE), args);
    const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, WaitMs);
    EXPECT_TRUE(ended) << "norvale-line did not end: " << args.join(u' ').toStdString();
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

class SimulatedLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.path() + u'/';
        writeFile(m_folder + QStringLiteral("phonebook.conf"), Book);
        writeFile(m_folder + QStringLiteral("dialer.conf"), "stage_ms=5\ndown_bps=200000\nup_bps=30000\n");
        m_dialer = std::make_unique<SimulatedDialer>(DialerSettings::read(m_folder), m_folder);
        ASSERT_FALSE(m_dialer->socketPath().isEmpty());
        record(*m_dialer);
    }

    void record(SimulatedDialer& dialer) {
        QObject::connect(&dialer, &DialerControl::Status,
                         [this](int state) { m_events << QString::number(state); });
        QObject::connect(&dialer, &DialerControl::Connect, [this] { m_events << QStringLiteral("connect"); });
        QObject::connect(&dialer, &DialerControl::Disconnect,
                         [this] { m_events << QStringLiteral("disconnect"); });
        QObject::connect(&dialer, &DialerControl::LastError,
                         [this](int code, const QString& text, int response) {
                             m_events << QStringLiteral("error %1 %2 %3").arg(code).arg(response).arg(text);
                         });
    }

    LineRun line(QStringList args) {
        args.prepend(m_dialer->socketPath());
        args.prepend(QStringLiteral("--socket"));
        return runLine(args);
    }

    QJsonObject status() {
        const LineRun run = line({QStringLiteral("status")});
        EXPECT_EQ(run.code, 0) << run.err.toStdString();
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(run.out, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << run.out.toStdString();
        return document.object();
    }

    bool waitForEvent(const QString& event) {
        return QTest::qWaitFor([&] { return m_events.contains(event); }, WaitMs);
    }

    bool waitForIdle() {
        return QTest::qWaitFor(
            [&] { return m_dialer->lineStatus().value(QStringLiteral("line")).toString() == u"idle"; },
            WaitMs);
    }

    QTemporaryDir m_dir;
    QString m_folder;
    std::unique_ptr<SimulatedDialer> m_dialer;
    QStringList m_events;
};

const QStringList AllStages{QStringLiteral("0"),   QStringLiteral("1"), QStringLiteral("2"),
                            QStringLiteral("3"),   QStringLiteral("5"), QStringLiteral("14"),
                            QStringLiteral("8192")};

} // namespace

TEST_F(SimulatedLine, CallGoesThroughEveryStageConnectsAndCarriesTraffic) {
    EXPECT_EQ(m_dialer->PhonebookFile(), m_folder + QStringLiteral("phonebook.conf"));
    ASSERT_EQ(m_dialer->SelectEntry(QStringLiteral("Backup")), 0);
    EXPECT_EQ(m_dialer->EntryNumber(), QStringLiteral("02999"));
    EXPECT_EQ(m_dialer->EntryUser(), QStringLiteral("mario"));
    EXPECT_FALSE(m_dialer->IsOnline());
    EXPECT_EQ(m_dialer->IpAddress(), QString());

    m_dialer->Dial();
    EXPECT_TRUE(m_events.isEmpty()) << "signals must come from the event loop, not from Dial";
    ASSERT_TRUE(waitForEvent(QStringLiteral("connect")));
    EXPECT_EQ(m_events, AllStages + QStringList{QStringLiteral("connect")});
    EXPECT_TRUE(m_dialer->IsOnline());
    EXPECT_EQ(m_dialer->EntryName(), QStringLiteral("Backup"));
    const QHostAddress address(m_dialer->IpAddress());
    EXPECT_EQ(address.protocol(), QAbstractSocket::IPv4Protocol) << m_dialer->IpAddress().toStdString();
    const bool privateUse = address.isInSubnet(QHostAddress(QStringLiteral("10.0.0.0")), 8) ||
                            address.isInSubnet(QHostAddress(QStringLiteral("172.16.0.0")), 12) ||
                            address.isInSubnet(QHostAddress(QStringLiteral("192.168.0.0")), 16);
    EXPECT_TRUE(privateUse) << m_dialer->IpAddress().toStdString();

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return m_dialer->BytesReceived() > 0 && m_dialer->BytesSent() > 0; }, WaitMs));
    const qint32 received = m_dialer->BytesReceived();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dialer->BytesReceived() > received; }, WaitMs));

    m_events.clear();
    m_dialer->HangUp();
    EXPECT_FALSE(m_dialer->IsOnline());
    EXPECT_EQ(m_dialer->BytesReceived(), 0);
    ASSERT_TRUE(waitForEvent(QStringLiteral("disconnect")));
    EXPECT_EQ(m_events, (QStringList{QStringLiteral("8193"), QStringLiteral("disconnect")}));

    const QJsonArray calls = status().value(QStringLiteral("calls")).toArray();
    ASSERT_EQ(calls.size(), 1);
    const QJsonObject call = calls.at(0).toObject();
    EXPECT_EQ(call.value(QStringLiteral("entry")).toString(), QStringLiteral("Backup"));
    EXPECT_EQ(call.value(QStringLiteral("number")).toString(), QStringLiteral("02999"));
    EXPECT_EQ(call.value(QStringLiteral("placed_by")).toString(), QStringLiteral("norvale"));
    EXPECT_EQ(call.value(QStringLiteral("last_state")).toInt(), 8193);
    EXPECT_EQ(call.value(QStringLiteral("outcome")).toString(), QStringLiteral("hung-up"));
    EXPECT_GT(call.value(QStringLiteral("hung_up_after_ms")).toDouble(), 0.0);
}

TEST_F(SimulatedLine, HangUpEndsTheCallAtEveryStage) {
    ASSERT_EQ(m_dialer->SelectEntry(QStringLiteral("Provider")), 0);
    for (qsizetype stage = 0; stage < AllStages.size(); ++stage) {
        const int hangUpOn = AllStages.at(stage).toInt();
        const auto handler = QObject::connect(m_dialer.get(), &DialerControl::Status, [&](int state) {
            if (state == hangUpOn)
                m_dialer->HangUp();
        });
        m_events.clear();
        m_dialer->Dial();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_events.contains(AllStages.at(stage)); }, WaitMs));
        ASSERT_TRUE(waitForIdle());
        QObject::disconnect(handler);
        // Long enough for several more stages to have come, had the call gone on.
        QTest::qWait(100);
        QStringList expected = AllStages.mid(0, stage + 1);
        if (hangUpOn == DialerControl::Connected)
            expected << QStringLiteral("8193") << QStringLiteral("disconnect");
        EXPECT_EQ(m_events, expected) << "hang-up on " << hangUpOn;
        EXPECT_FALSE(m_dialer->IsOnline());
        const QJsonObject last =
            m_dialer->lineStatus().value(QStringLiteral("calls")).toArray().last().toObject();
        EXPECT_EQ(last.value(QStringLiteral("outcome")).toString(), QStringLiteral("hung-up"));
        EXPECT_EQ(last.value(QStringLiteral("last_state")).toInt(),
                  hangUpOn == DialerControl::Connected ? 8193 : hangUpOn);
    }
}

TEST_F(SimulatedLine, PhonebookIsReadAgainOnEveryRequest) {
    ASSERT_EQ(m_dialer->EntryCount(), 3);
    EXPECT_EQ(m_dialer->EntryNameAt(0), QStringLiteral("Defaults"));
    EXPECT_EQ(m_dialer->EntryNameAt(2), QStringLiteral("Backup"));
    EXPECT_EQ(m_dialer->EntryNameAt(3), QString());
    EXPECT_EQ(m_dialer->EntryNameAt(-1), QString());

    EXPECT_EQ(m_dialer->SelectEntry(QStringLiteral("Nowhere")), 623);
    EXPECT_EQ(m_dialer->EntryName(), QString());
    EXPECT_EQ(m_dialer->EntryNumber(), QString());
    m_dialer->Dial();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_events.isEmpty(); }, WaitMs));
    EXPECT_EQ(m_events,
              QStringList{QStringLiteral(
                  "error 623 0 The system could not find the phone book entry for this connection.")});

    writeFile(m_folder + QStringLiteral("phonebook.conf"), Book + "[Dialer Nowhere]\nPhone = 12\n");
    EXPECT_EQ(m_dialer->EntryCount(), 4);
    EXPECT_EQ(m_dialer->SelectEntry(QStringLiteral("Nowhere")), 0);
    EXPECT_EQ(m_dialer->EntryNumber(), QStringLiteral("12"));

    // The number dialled is the one in the file when Dial runs.
    writeFile(m_folder + QStringLiteral("phonebook.conf"), Book + "[Dialer Nowhere]\nPhone = 34\n");
    m_dialer->Dial();
    EXPECT_EQ(
        m_dialer->lineStatus().value(QStringLiteral("calls")).toArray().last()[QStringLiteral("number")],
        QStringLiteral("34"));
    // One modem: a second call while the first is on the line is refused.
    m_events.clear();
    m_dialer->Dial();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return m_events.filter(QStringLiteral("error")).size() == 1; }, WaitMs));
    EXPECT_TRUE(
        m_events.filter(QStringLiteral("error")).front().startsWith(QStringLiteral("error 633 0 The modem")));
    m_dialer->HangUp();

    QFile::remove(m_folder + QStringLiteral("phonebook.conf"));
    EXPECT_EQ(m_dialer->EntryCount(), 0);
    EXPECT_EQ(m_dialer->SelectEntry(QStringLiteral("Provider")), 623);
}

TEST_F(SimulatedLine, OtherProgramsCallsAreReportedLikeOwn) {
    ASSERT_EQ(m_dialer->SelectEntry(QStringLiteral("Provider")), 0);
    QStringList namesAtDevice;
    QObject::connect(m_dialer.get(), &DialerControl::Status, [&](int state) {
        if (state == DialerControl::ConnectDevice)
            namesAtDevice << m_dialer->EntryName();
    });

    LineRun run = line({QStringLiteral("dial"), QStringLiteral("Stranger"), QStringLiteral("--number"),
                        QStringLiteral("0899123456")});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    ASSERT_TRUE(waitForEvent(QStringLiteral("connect")));
    EXPECT_EQ(m_events, AllStages + QStringList{QStringLiteral("connect")});
    EXPECT_EQ(namesAtDevice, QStringList{QStringLiteral("Stranger")});
    EXPECT_EQ(m_dialer->EntryName(), QStringLiteral("Stranger"));
    EXPECT_TRUE(m_dialer->IsOnline());

    QJsonObject state = status();
    EXPECT_EQ(state.value(QStringLiteral("line")).toString(), QStringLiteral("connected"));
    EXPECT_EQ(state.value(QStringLiteral("entry")).toString(), QStringLiteral("Stranger"));
    QJsonObject call = state.value(QStringLiteral("calls")).toArray().at(0).toObject();
    EXPECT_EQ(call.value(QStringLiteral("number")).toString(), QStringLiteral("0899123456"));
    EXPECT_EQ(call.value(QStringLiteral("placed_by")).toString(), QStringLiteral("other"));
    EXPECT_EQ(call.value(QStringLiteral("last_state")).toInt(), 8192);
    EXPECT_EQ(call.value(QStringLiteral("outcome")).toString(), QStringLiteral("connected"));
    EXPECT_TRUE(call.value(QStringLiteral("hung_up_after_ms")).isNull());

    m_events.clear();
    run = line({QStringLiteral("drop")});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    ASSERT_TRUE(waitForEvent(QStringLiteral("disconnect")));
    EXPECT_EQ(m_events, (QStringList{QStringLiteral("8193"), QStringLiteral("disconnect")}));
    EXPECT_EQ(m_dialer->EntryName(), QStringLiteral("Provider"));
    EXPECT_EQ(line({QStringLiteral("drop")}).code, 3);

    // The defence: a handler hangs up on state 2; the number comes from the phonebook.
    QObject::connect(m_dialer.get(), &DialerControl::Status, [&](int s) {
        if (s == DialerControl::ConnectDevice)
            m_dialer->HangUp();
    });
    m_events.clear();
    ASSERT_EQ(line({QStringLiteral("dial"), QStringLiteral("backup")}).code, 0);
    ASSERT_TRUE(waitForEvent(QStringLiteral("2")));
    ASSERT_TRUE(waitForIdle());
    state = status();
    EXPECT_EQ(state.value(QStringLiteral("line")).toString(), QStringLiteral("idle"));
    EXPECT_EQ(state.value(QStringLiteral("entry")).toString(), QStringLiteral("Provider"));
    const QJsonArray calls = state.value(QStringLiteral("calls")).toArray();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls.at(0)[QStringLiteral("outcome")].toString(), QStringLiteral("dropped"));
    EXPECT_EQ(calls.at(0)[QStringLiteral("last_state")].toInt(), 8193);
    call = calls.at(1).toObject();
    EXPECT_EQ(call.value(QStringLiteral("entry")).toString(), QStringLiteral("backup"));
    EXPECT_EQ(call.value(QStringLiteral("number")).toString(), QStringLiteral("02999"));
    EXPECT_EQ(call.value(QStringLiteral("last_state")).toInt(), 2);
    EXPECT_EQ(call.value(QStringLiteral("outcome")).toString(), QStringLiteral("hung-up"));
    EXPECT_TRUE(call.value(QStringLiteral("hung_up_after_ms")).isDouble());
    EXPECT_GE(call.value(QStringLiteral("hung_up_after_ms")).toDouble(), 0.0);
    EXPECT_EQ(namesAtDevice.last(), QStringLiteral("backup"));
}

TEST_F(SimulatedLine, ModemErrorsArriveAsLastError) {
    LineRun run = line({QStringLiteral("error"), QStringLiteral("680")});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_events.isEmpty(); }, WaitMs));
    EXPECT_EQ(m_events, QStringList{QStringLiteral("error 680 0 There was no dial tone.")});

    // An error in the middle of a call ends it; it was never connected, so no Disconnect.
    ASSERT_EQ(m_dialer->SelectEntry(QStringLiteral("Provider")), 0);
    m_events.clear();
    m_dialer->Dial();
    ASSERT_TRUE(waitForEvent(QStringLiteral("1")));
    ASSERT_EQ(line({QStringLiteral("error"), QStringLiteral("676")}).code, 0);
    ASSERT_TRUE(waitForIdle());
    QTest::qWait(100);
    EXPECT_EQ(m_events.last(), QStringLiteral("error 676 0 The phone line is busy."));
    EXPECT_FALSE(m_events.contains(QStringLiteral("disconnect")));
    EXPECT_EQ(status().value(QStringLiteral("calls")).toArray().last()[QStringLiteral("outcome")].toString(),
              QStringLiteral("error"));
}

TEST_F(SimulatedLine, UnwatchedCallsStayUnreported) {
    m_dialer->SetWatchOtherCalls(false);
    ASSERT_EQ(m_dialer->SelectEntry(QStringLiteral("Provider")), 0);
    ASSERT_EQ(line({QStringLiteral("dial"), QStringLiteral("Stranger")}).code, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_dialer->lineStatus().value(QStringLiteral("line")).toString() == u"connected"; },
        WaitMs));
    EXPECT_TRUE(m_events.isEmpty());
    EXPECT_EQ(m_dialer->EntryName(), QStringLiteral("Provider"));
    EXPECT_FALSE(m_dialer->IsOnline());
    // The line is still busy for the component's own calls.
    m_dialer->Dial();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_events.isEmpty(); }, WaitMs));
    EXPECT_TRUE(m_events.front().startsWith(QStringLiteral("error 633")));
    m_dialer->HangUp();
    EXPECT_EQ(m_dialer->lineStatus().value(QStringLiteral("line")).toString(), QStringLiteral("idle"));
}

TEST_F(SimulatedLine, ReportEveryStageOffKeepsConnectAndDisconnect) {
    m_dialer->SetReportEveryStage(false);
    ASSERT_EQ(m_dialer->SelectEntry(QStringLiteral("Provider")), 0);
    m_dialer->Dial();
    ASSERT_TRUE(waitForEvent(QStringLiteral("connect")));
    m_dialer->HangUp();
    ASSERT_TRUE(waitForEvent(QStringLiteral("disconnect")));
    EXPECT_EQ(m_events, (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}));
}

TEST_F(SimulatedLine, BadCommandsAndAbsentNorvale) {
    const QList<QStringList> badOnes{
        {},
        {QStringLiteral("frobnicate")},
        {QStringLiteral("dial")},
        {QStringLiteral("dial"), QStringLiteral("A"), QStringLiteral("B")},
        {QStringLiteral("dial"), QStringLiteral("A"), QStringLiteral("--number")},
        {QStringLiteral("drop"), QStringLiteral("now")},
        {QStringLiteral("error"), QStringLiteral("abc")},
        {QStringLiteral("error"), QStringLiteral("0")},
        {QStringLiteral("error"), QStringLiteral("40000")},
        {QStringLiteral("status"), QStringLiteral("--number"), QStringLiteral("1")},
        {QStringLiteral("rewrite"), QStringLiteral("OnlyName")},
        {QStringLiteral("--verbose"), QStringLiteral("status")},
    };
    for (const QStringList& args : badOnes) {
        const LineRun run = line(args);
        EXPECT_EQ(run.code, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains("usage: norvale-line")) << run.err.toStdString();
    }
    EXPECT_TRUE(m_events.isEmpty());
    EXPECT_EQ(m_dialer->lineStatus().value(QStringLiteral("calls")).toArray().size(), 0);

    // No socket, or a socket nobody listens on.
    const QString absent = m_folder + QStringLiteral("absent.sock");
    LineRun run = runLine({QStringLiteral("--socket"), absent, QStringLiteral("status")});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("Norvale is not running")) << run.err.toStdString();
    const QString socket = m_dialer->socketPath();
    m_dialer.reset();
    EXPECT_FALSE(QFileInfo::exists(socket));
    writeFile(socket, "stale");
    run = runLine({QStringLiteral("--socket"), socket, QStringLiteral("dial"), QStringLiteral("X")});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("Norvale is not running")) << run.err.toStdString();
}

TEST_F(SimulatedLine, SocketIsOwnerOnlyAndNeverTakenFromALiveLine) {
    const QFileInfo info(m_dialer->socketPath());
    EXPECT_EQ(info.absoluteFilePath(), m_folder + QStringLiteral("line.sock"));
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(info.permissions() & others, QFile::Permissions());

    // A relative socket path is taken from the working folder.
    EXPECT_EQ(
        runLine({QStringLiteral("--socket"), QStringLiteral("line.sock"), QStringLiteral("status")}, m_folder)
            .code,
        0);

    SimulatedDialer second(DialerSettings::read(m_folder), m_dir.path());
    EXPECT_EQ(second.socketPath(), QString());
    EXPECT_EQ(line({QStringLiteral("status")}).code, 0);

    // A client that leaves before its answer, one that sends junk and one that never ends its
    // request do no harm.
    QLocalSocket leaver;
    leaver.connectToServer(m_dialer->socketPath());
    ASSERT_TRUE(leaver.waitForConnected(WaitMs));
    leaver.write("{\"command\":\"status\"}\n");
    leaver.waitForBytesWritten(WaitMs);
    leaver.abort();
    QLocalSocket junk;
    junk.connectToServer(m_dialer->socketPath());
    ASSERT_TRUE(junk.waitForConnected(WaitMs));
    junk.write("\x01\x02 not json\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return junk.canReadLine(); }, WaitMs));
    const QJsonObject reply = QJsonDocument::fromJson(junk.readLine()).object();
    EXPECT_FALSE(reply.value(QStringLiteral("ok")).toBool());
    EXPECT_TRUE(reply.value(QStringLiteral("bad_request")).toBool());
    QLocalSocket flood;
    flood.connectToServer(m_dialer->socketPath());
    ASSERT_TRUE(flood.waitForConnected(WaitMs));
    flood.write(QByteArray(200 * 1024, 'x'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return flood.state() == QLocalSocket::UnconnectedState; }, WaitMs));
    EXPECT_EQ(line({QStringLiteral("status")}).code, 0);
}

TEST(SimulatedLineSocket, NorvaleLineFindsTheSocketInItsOwnFolder) {
    // The program's folder is the one norvale-line is built into.
    QTemporaryDir dir;
    DialerSettings settings;
    settings.phonebook = dir.filePath(QStringLiteral("phonebook.conf"));
    writeFile(settings.phonebook, Book);
    const QString programFolder = QFileInfo(QStringLiteral(NORVALE_LINE)).absolutePath() + u'/';
    auto dialer = std::make_unique<SimulatedDialer>(settings, programFolder);
    ASSERT_EQ(dialer->socketPath(), programFolder + QStringLiteral("line.sock"));
    ASSERT_EQ(dialer->SelectEntry(QStringLiteral("Backup")), 0);
    LineRun run = runLine({QStringLiteral("status")});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(run.out).object().value(QStringLiteral("entry")).toString(),
              QStringLiteral("Backup"));
    dialer.reset();
    EXPECT_FALSE(QFileInfo::exists(programFolder + QStringLiteral("line.sock")));
    run = runLine({QStringLiteral("status")});
    EXPECT_EQ(run.code, 1);
}

TEST_F(SimulatedLine, RewriteChangesTheFileAndSaysWhenItCannot) {
    const QString book = m_folder + QStringLiteral("phonebook.conf");
    writeFile(book,
              "# mine\r\n[Dialer Provider]\r\nPhone = 1\r\nUsername = u\r\n[Dialer Other]\r\nPhone = 2\r\n");
    LineRun run = line({QStringLiteral("rewrite"), QStringLiteral("provider"), QStringLiteral("0899000111")});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("Rewritten: ")) << run.out.toStdString();
    EXPECT_EQ(
        readFile(book),
        QByteArray("# mine\r\n[Dialer Provider]\r\nPhone = 0899000111\r\nUsername = u\r\n[Dialer Other]\r\n"
                   "Phone = 2\r\n"));
    ASSERT_EQ(m_dialer->SelectEntry(QStringLiteral("Provider")), 0);
    EXPECT_EQ(m_dialer->EntryNumber(), QStringLiteral("0899000111"));

    // An entry the file does not hold is added.
    ASSERT_EQ(line({QStringLiteral("rewrite"), QStringLiteral("New One"), QStringLiteral("55")}).code, 0);
    EXPECT_TRUE(readFile(book).endsWith("Phone = 2\r\n\r\n[Dialer New One]\r\nPhone = 55\r\n"));

    run = line({QStringLiteral("rewrite"), QStringLiteral("Provider"), QStringLiteral("3"),
                QStringLiteral("--phonebook"), m_folder + QStringLiteral("missing.conf")});
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(run.err.startsWith("Not rewritten: could not read")) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_folder + QStringLiteral("missing.conf")));

    // Under the phonebook lock another program can neither write the file nor replace it.
    const QByteArray before = readFile(book);
    FileGuard guard;
    {
        FileLock lock = guard.lock(book);
        ASSERT_TRUE(lock.isHeld());
        run = line({QStringLiteral("rewrite"), QStringLiteral("Provider"), QStringLiteral("0899666")});
    }
    RecordProperty("protection", guard.fullProtection() ? "full" : "reduced");
    if (guard.fullProtection()) {
        EXPECT_EQ(run.code, 3) << run.out.toStdString();
        EXPECT_TRUE(run.err.startsWith("Not rewritten: ")) << run.err.toStdString();
        EXPECT_EQ(readFile(book), before);
    } else {
        // Reduced protection: whatever happened, the report matches the file.
        EXPECT_EQ(run.code == 0, readFile(book) != before) << run.out.toStdString() << run.err.toStdString();
    }
}
