#include "TestApp.h"

#include "dialer/DialerSettings.h"
#include "dialer/SimulatedDialer.h"

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

#include <functional>

namespace {

// Generous: the machine is shared; nothing below depends on how long a wait takes.
constexpr int WaitMs = 20000;

const QByteArray Book =
    "[Dialer Defaults]\nUsername = guest\n[Dialer Provider]\nPhone = 0245871200\n"
    "Username = mario\n[Dialer Backup]\nInherits = Dialer Provider\nArea Code = 02\nPhone = 999\n";
const QStringList AllStages{"0", "1", "2", "3", "5", "14", "8192"};

bool waitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, WaitMs);
}

struct LineRun {
    int code = -1;
    QByteArray out, err;
};

// Runs the real norvale-line while this event loop keeps serving the socket.
LineRun runLine(const QStringList& args, const QString& workingFolder = {}) {
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.start(NORVALE_LINE, args);
    if (!waitFor([&] { return process.state() == QProcess::NotRunning; })) {
        ADD_FAILURE() << "norvale-line did not end: " << args.join(' ').toStdString();
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// "entry number placed_by last_state outcome" of a call in the line's status.
QString summary(const QJsonValue& call) {
    const QJsonObject c = call.toObject();
    return QStringList{c.value("entry").toString(), c.value("number").toString(),
                       c.value("placed_by").toString(), QString::number(c.value("last_state").toInt()),
                       c.value("outcome").toString()}
        .join(' ');
}

class SimulatedLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        writeBytes(m_folder + "phonebook.conf", Book);
        writeBytes(m_folder + "dialer.conf", "stage_ms=5\ndown_bps=200000\nup_bps=30000\n");
        m_dialer = std::make_unique<SimulatedDialer>(DialerSettings::read(m_folder), m_folder);
        ASSERT_FALSE(m_dialer->socketPath().isEmpty());
        SimulatedDialer* d = m_dialer.get();
        QObject::connect(d, &DialerControl::Status,
                         [this](int state) { m_events << QString::number(state); });
        QObject::connect(d, &DialerControl::Connect, [this] { m_events << "connect"; });
        QObject::connect(d, &DialerControl::Disconnect, [this] { m_events << "disconnect"; });
        QObject::connect(d, &DialerControl::LastError, [this](int code, const QString& text, int response) {
            m_events << QString("error %1 %2 %3").arg(code).arg(response).arg(text);
        });
    }

    LineRun line(const QStringList& args) {
        return runLine(QStringList{"--socket", m_dialer->socketPath()} + args);
    }
    QJsonArray calls() const { return m_dialer->lineStatus().value("calls").toArray(); }
    QString lineState() const { return m_dialer->lineStatus().value("line").toString(); }
    bool waitForEvent(const QString& event) {
        return waitFor([&] { return m_events.contains(event); });
    }

    QTemporaryDir m_dir;
    const QString m_folder = m_dir.path() + '/';
    std::unique_ptr<SimulatedDialer> m_dialer;
    QStringList m_events;
};

} // namespace

TEST_F(SimulatedLine, CallGoesThroughEveryStageConnectsAndCarriesTraffic) {
    EXPECT_EQ(m_dialer->PhonebookFile(), m_folder + "phonebook.conf");
    ASSERT_EQ(m_dialer->SelectEntry("Backup"), 0);
    EXPECT_EQ(m_dialer->EntryNumber(), "02999");
    EXPECT_EQ(m_dialer->EntryUser(), "mario");
    EXPECT_FALSE(m_dialer->IsOnline());
    EXPECT_EQ(m_dialer->IpAddress(), "");

    m_dialer->Dial();
    EXPECT_TRUE(m_events.isEmpty()) << "signals must come from the event loop, not from Dial";
    ASSERT_TRUE(waitForEvent("connect"));
    EXPECT_EQ(m_events, AllStages + QStringList{"connect"});
    EXPECT_TRUE(m_dialer->IsOnline());
    EXPECT_EQ(m_dialer->EntryName(), "Backup");
    const QHostAddress address(m_dialer->IpAddress());
    EXPECT_TRUE(address.isInSubnet(QHostAddress("10.0.0.0"), 8) ||
                address.isInSubnet(QHostAddress("172.16.0.0"), 12) ||
                address.isInSubnet(QHostAddress("192.168.0.0"), 16))
        << m_dialer->IpAddress().toStdString();

    ASSERT_TRUE(waitFor([&] { return m_dialer->BytesReceived() > 0 && m_dialer->BytesSent() > 0; }));

    m_events.clear();
    m_dialer->HangUp();
    EXPECT_FALSE(m_dialer->IsOnline());
    EXPECT_EQ(m_dialer->BytesReceived(), 0);
    ASSERT_TRUE(waitForEvent("disconnect"));
    EXPECT_EQ(m_events, (QStringList{"8193", "disconnect"}));

    ASSERT_EQ(calls().size(), 1);
    EXPECT_EQ(summary(calls().first()), "Backup 02999 norvale 8193 hung-up");
    EXPECT_GT(calls().first()["hung_up_after_ms"].toDouble(), 0.0);
}

TEST_F(SimulatedLine, HangUpEndsTheCallAtEveryStage) {
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    for (qsizetype stage = 0; stage < AllStages.size(); ++stage) {
        const int hangUpOn = AllStages[stage].toInt();
        SCOPED_TRACE(hangUpOn);
        const auto handler = QObject::connect(m_dialer.get(), &DialerControl::Status, [&](int state) {
            if (state == hangUpOn)
                m_dialer->HangUp();
        });
        m_events.clear();
        m_dialer->Dial();
        ASSERT_TRUE(waitForEvent(AllStages[stage]));
        ASSERT_TRUE(waitFor([&] { return lineState() == "idle"; }));
        QObject::disconnect(handler);
        // Long enough for several more stages to have come, had the call gone on.
        QTest::qWait(100);
        const bool connected = hangUpOn == DialerControl::Connected;
        EXPECT_EQ(m_events, AllStages.mid(0, stage + 1) +
                                (connected ? QStringList{"8193", "disconnect"} : QStringList{}));
        EXPECT_FALSE(m_dialer->IsOnline());
        EXPECT_EQ(calls().last()["outcome"], "hung-up");
        EXPECT_EQ(calls().last()["last_state"].toInt(), connected ? 8193 : hangUpOn);
    }
}

TEST_F(SimulatedLine, PhonebookIsReadAgainOnEveryRequest) {
    ASSERT_EQ(m_dialer->EntryCount(), 3);
    EXPECT_EQ(m_dialer->EntryNameAt(0), "Defaults");
    EXPECT_EQ(m_dialer->EntryNameAt(2), "Backup");
    EXPECT_EQ(m_dialer->EntryNameAt(3), "");
    EXPECT_EQ(m_dialer->EntryNameAt(-1), "");

    EXPECT_EQ(m_dialer->SelectEntry("Nowhere"), 623);
    EXPECT_EQ(m_dialer->EntryName(), "");
    EXPECT_EQ(m_dialer->EntryNumber(), "");
    m_dialer->Dial();
    ASSERT_TRUE(waitFor([&] { return !m_events.isEmpty(); }));
    EXPECT_EQ(m_events,
              QStringList{"error 623 0 The system could not find the phone book entry for this connection."});

    writeBytes(m_folder + "phonebook.conf", Book + "[Dialer Nowhere]\nPhone = 12\n");
    EXPECT_EQ(m_dialer->EntryCount(), 4);
    EXPECT_EQ(m_dialer->SelectEntry("Nowhere"), 0);
    EXPECT_EQ(m_dialer->EntryNumber(), "12");

    // The number dialled is the one in the file when Dial runs.
    writeBytes(m_folder + "phonebook.conf", Book + "[Dialer Nowhere]\nPhone = 34\n");
    m_dialer->Dial();
    EXPECT_EQ(calls().last()["number"], "34");
    // One modem: a second call while the first is on the line is refused.
    m_events.clear();
    m_dialer->Dial();
    ASSERT_TRUE(waitFor([&] { return m_events.filter("error").size() == 1; }));
    EXPECT_TRUE(m_events.filter("error").front().startsWith("error 633 0 The modem"));
    m_dialer->HangUp();

    QFile::remove(m_folder + "phonebook.conf");
    EXPECT_EQ(m_dialer->EntryCount(), 0);
    EXPECT_EQ(m_dialer->SelectEntry("Provider"), 623);
}

TEST_F(SimulatedLine, OtherProgramsCallsAreReportedLikeOwn) {
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    QStringList namesAtDevice;
    QObject::connect(m_dialer.get(), &DialerControl::Status, [&](int state) {
        if (state == DialerControl::ConnectDevice)
            namesAtDevice << m_dialer->EntryName();
    });

    LineRun run = line({"dial", "Stranger", "--number", "0899123456"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    ASSERT_TRUE(waitForEvent("connect"));
    EXPECT_EQ(m_events, AllStages + QStringList{"connect"});
    EXPECT_EQ(namesAtDevice, QStringList{"Stranger"});
    EXPECT_EQ(m_dialer->EntryName(), "Stranger");
    EXPECT_TRUE(m_dialer->IsOnline());
    const QJsonObject state = m_dialer->lineStatus();
    EXPECT_EQ(state["line"], "connected");
    EXPECT_EQ(state["entry"], "Stranger");
    EXPECT_EQ(summary(state["calls"][0]), "Stranger 0899123456 other 8192 connected");
    EXPECT_TRUE(state["calls"][0]["hung_up_after_ms"].isNull());

    m_events.clear();
    run = line({"drop"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    ASSERT_TRUE(waitForEvent("disconnect"));
    EXPECT_EQ(m_events, (QStringList{"8193", "disconnect"}));
    EXPECT_EQ(m_dialer->EntryName(), "Provider");
    EXPECT_EQ(line({"drop"}).code, 3);
    EXPECT_EQ(summary(calls().first()), "Stranger 0899123456 other 8193 dropped");
}

TEST_F(SimulatedLine, ModemErrorsArriveAsLastError) {
    const LineRun run = line({"error", "680"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    ASSERT_TRUE(waitFor([&] { return !m_events.isEmpty(); }));
    EXPECT_EQ(m_events, QStringList{"error 680 0 There was no dial tone."});

    // An error in the middle of a call ends it; it was never connected, so no Disconnect.
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    m_events.clear();
    m_dialer->Dial();
    ASSERT_TRUE(waitForEvent("1"));
    ASSERT_EQ(line({"error", "676"}).code, 0);
    ASSERT_TRUE(waitFor([&] { return lineState() == "idle"; }));
    QTest::qWait(100);
    EXPECT_EQ(m_events.last(), "error 676 0 The phone line is busy.");
    EXPECT_FALSE(m_events.contains("disconnect"));
    EXPECT_EQ(calls().last()["outcome"], "error");
}

TEST_F(SimulatedLine, UnwatchedCallsStayUnreportedAndStagesOffKeepConnectAndDisconnect) {
    m_dialer->SetWatchOtherCalls(false);
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    ASSERT_EQ(line({"dial", "Stranger"}).code, 0);
    ASSERT_TRUE(waitFor([&] { return lineState() == "connected"; }));
    EXPECT_TRUE(m_events.isEmpty());
    EXPECT_EQ(m_dialer->EntryName(), "Provider");
    EXPECT_FALSE(m_dialer->IsOnline());
    // The line is still busy for the component's own calls.
    m_dialer->Dial();
    ASSERT_TRUE(waitFor([&] { return !m_events.isEmpty(); }));
    EXPECT_TRUE(m_events.front().startsWith("error 633"));
    m_dialer->HangUp();
    EXPECT_EQ(lineState(), "idle");

    m_events.clear();
    m_dialer->SetReportEveryStage(false);
    m_dialer->Dial();
    ASSERT_TRUE(waitForEvent("connect"));
    m_dialer->HangUp();
    ASSERT_TRUE(waitForEvent("disconnect"));
    EXPECT_EQ(m_events, (QStringList{"connect", "disconnect"}));
}

TEST_F(SimulatedLine, BadCommandsAndAbsentNorvale) {
    for (const char* bad :
         {"", "frobnicate", "dial", "dial A B", "dial A --number", "drop now", "error abc", "error 0",
          "error 40000", "status --number 1", "rewrite OnlyName", "--verbose status"}) {
        const LineRun run = line(QString(bad).split(' ', Qt::SkipEmptyParts));
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_TRUE(run.err.contains("usage: norvale-line")) << run.err.toStdString();
    }
    EXPECT_TRUE(m_events.isEmpty());
    EXPECT_TRUE(calls().isEmpty());

    // No socket, or a socket nobody listens on.
    LineRun run = runLine({"--socket", m_folder + "absent.sock", "status"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("Norvale is not running")) << run.err.toStdString();
    const QString socket = m_dialer->socketPath();
    m_dialer.reset();
    EXPECT_FALSE(QFileInfo::exists(socket));
    writeBytes(socket, "stale");
    run = runLine({"--socket", socket, "dial", "X"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("Norvale is not running")) << run.err.toStdString();
}

TEST_F(SimulatedLine, SocketIsOwnerOnlyAndNeverTakenFromALiveLine) {
    const QFileInfo info(m_dialer->socketPath());
    EXPECT_EQ(info.absoluteFilePath(), m_folder + "line.sock");
    EXPECT_EQ(info.permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                     QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              QFile::Permissions());
    // A relative socket path is taken from the working folder.
    EXPECT_EQ(runLine({"--socket", "line.sock", "status"}, m_folder).code, 0);

    SimulatedDialer second(DialerSettings::read(m_folder), m_dir.path());
    EXPECT_EQ(second.socketPath(), "");
    EXPECT_EQ(line({"status"}).code, 0);

    // A client that leaves before its answer, one that sends junk and one that never ends its
    // request do no harm.
    QLocalSocket leaver, junk, flood;
    for (QLocalSocket* client : {&leaver, &junk, &flood}) {
        client->connectToServer(m_dialer->socketPath());
        ASSERT_TRUE(client->waitForConnected(WaitMs));
    }
    leaver.write("{\"command\":\"status\"}\n");
    leaver.waitForBytesWritten(WaitMs);
    leaver.abort();
    junk.write("\x01\x02 not json\n");
    ASSERT_TRUE(waitFor([&] { return junk.canReadLine(); }));
    const QJsonObject reply = QJsonDocument::fromJson(junk.readLine()).object();
    EXPECT_FALSE(reply["ok"].toBool());
    EXPECT_TRUE(reply["bad_request"].toBool());
    flood.write(QByteArray(200 * 1024, 'x'));
    EXPECT_TRUE(waitFor([&] { return flood.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_EQ(line({"status"}).code, 0);
}

TEST_F(SimulatedLine, RewriteChangesTheFileAndSaysWhenItCannot) {
    const QString book = m_folder + "phonebook.conf";
    writeBytes(book,
              "# mine\r\n[Dialer Provider]\r\nPhone = 1\r\nUsername = u\r\n[Dialer Other]\r\nPhone = 2\r\n");
    LineRun run = line({"rewrite", "provider", "0899000111"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("Rewritten: ")) << run.out.toStdString();
    EXPECT_EQ(readBytes(book), "# mine\r\n[Dialer Provider]\r\nPhone = 0899000111\r\nUsername = u\r\n"
                              "[Dialer Other]\r\nPhone = 2\r\n");
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    EXPECT_EQ(m_dialer->EntryNumber(), "0899000111");

    // An entry the file does not hold is added.
    ASSERT_EQ(line({"rewrite", "New One", "55"}).code, 0);
    EXPECT_TRUE(readBytes(book).endsWith("Phone = 2\r\n\r\n[Dialer New One]\r\nPhone = 55\r\n"));

    run = line({"rewrite", "Provider", "3", "--phonebook", m_folder + "missing.conf"});
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(run.err.startsWith("Not rewritten: could not read")) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_folder + "missing.conf"));
}
