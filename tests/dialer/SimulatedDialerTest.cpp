// The built-in line and norvale-line, the other program that calls on it. What the guard makes of
// these calls is the black-box tests' (tests/e2e/defence.sh).
#include "TestApp.h"

#include "dialer/DialerSettings.h"
#include "dialer/SimulatedDialer.h"

#include <QFileInfo>
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

const QByteArray Book = "[Dialer Provider]\nPhone = 0245871200\n[Dialer Backup]\nPhone = 999\n";
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

class SimulatedLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        writeBytes(m_folder + "phonebook.conf", Book);
        writeBytes(m_folder + "dialer.conf", "stage_ms=" + QByteArray::number(m_stageMs));
        m_dialer = std::make_unique<SimulatedDialer>(DialerSettings::read(m_folder), m_folder);
        ASSERT_FALSE(m_dialer->socketPath().isEmpty());
        m_events.watch(*m_dialer);
    }

    LineRun line(const QStringList& args) {
        return runLine(QStringList{"--socket", m_dialer->socketPath()} + args);
    }
    QJsonObject lastCall() const { return m_dialer->lineStatus().value("calls").toArray().last().toObject(); }
    QString lineState() const { return m_dialer->lineStatus().value("line").toString(); }
    bool waitForEvent(const QString& event) {
        return waitFor([&] { return m_events.contains(event); });
    }

    int m_stageMs = 5;
    QTemporaryDir m_dir;
    const QString m_folder = m_dir.path() + '/';
    std::unique_ptr<SimulatedDialer> m_dialer;
    Told m_events;
};

// Slow enough for another program's request to arrive during a stage.
class SlowLine : public SimulatedLine {
protected:
    SlowLine() { m_stageMs = 1000; }
};

} // namespace

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
        EXPECT_TRUE(m_events.isEmpty()) << "signals come from the event loop, not from Dial";
        ASSERT_TRUE(waitForEvent(AllStages[stage]));
        ASSERT_TRUE(waitFor([&] { return lineState() == "idle"; }));
        QObject::disconnect(handler);
        // Long enough for several more stages to have come, had the call gone on.
        QTest::qWait(100);
        const bool connected = hangUpOn == DialerControl::Connected;
        EXPECT_EQ(m_events, AllStages.mid(0, stage + 1) +
                                (connected ? QStringList{"8193", "disconnect"} : QStringList{}));
        EXPECT_FALSE(m_dialer->IsOnline());
        EXPECT_EQ(lastCall()["outcome"], "hung-up");
        EXPECT_EQ(lastCall()["last_state"].toInt(), connected ? 8193 : hangUpOn);
    }
}

TEST_F(SimulatedLine, PhonebookIsReadAgainOnEveryRequest) {
    ASSERT_EQ(m_dialer->EntryCount(), 2);
    EXPECT_EQ(m_dialer->EntryNameAt(1), "Backup");
    EXPECT_EQ(m_dialer->EntryNameAt(2), "");
    EXPECT_EQ(m_dialer->EntryNameAt(-1), "");
    EXPECT_EQ(m_dialer->SelectEntry("Nowhere"), 623);

    writeBytes(m_folder + "phonebook.conf", Book + "[Dialer Nowhere]\nPhone = 12\n");
    EXPECT_EQ(m_dialer->EntryCount(), 3);
    EXPECT_EQ(m_dialer->SelectEntry("Nowhere"), 0);
    EXPECT_EQ(m_dialer->EntryNumber(), "12");
    // The number dialled is the one in the file when Dial runs.
    writeBytes(m_folder + "phonebook.conf", Book + "[Dialer Nowhere]\nPhone = 34\n");
    m_dialer->Dial();
    EXPECT_EQ(lastCall()["number"], "34");
    // One modem: a second call while the first is on the line is refused.
    m_dialer->Dial();
    ASSERT_TRUE(waitForEvent("error 633"));
    EXPECT_TRUE(m_events.texts.front().startsWith("The modem")) << m_events.texts.front().toStdString();
    m_dialer->HangUp();

    QFile::remove(m_folder + "phonebook.conf");
    EXPECT_EQ(m_dialer->EntryCount(), 0);
    EXPECT_EQ(m_dialer->SelectEntry("Provider"), 623);
}

// An error on the idle line, then one in the middle of a call, which ends it: it was never
// connected, so no Disconnect.
TEST_F(SlowLine, ModemErrorsArriveAsLastErrorAndEndTheCall) {
    ASSERT_EQ(line({"error", "680"}).code, 0);
    ASSERT_TRUE(waitFor([&] { return !m_events.isEmpty(); }));
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    m_dialer->Dial();
    ASSERT_TRUE(waitForEvent("1"));
    ASSERT_EQ(line({"error", "676"}).code, 0);
    ASSERT_TRUE(waitFor([&] { return lineState() == "idle"; }));
    QTest::qWait(100);
    EXPECT_EQ(m_events, (QStringList{"error 680", "0", "1", "error 676"}));
    EXPECT_EQ(m_events.texts, (QStringList{"There was no dial tone.", "The phone line is busy."}));
    EXPECT_EQ(lastCall()["outcome"], "error");
}

TEST_F(SimulatedLine, BadCommandsAbsentNorvaleAndHostileClients) {
    for (const char* bad :
         {"", "frobnicate", "dial", "dial A B", "dial A --number", "drop now", "error abc", "error 0",
          "error 40000", "status --number 1", "rewrite OnlyName", "--verbose status"}) {
        const LineRun run = line(QString(bad).split(' ', Qt::SkipEmptyParts));
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_TRUE(run.err.contains("usage: norvale-line")) << run.err.toStdString();
    }
    EXPECT_TRUE(m_events.isEmpty());
    EXPECT_EQ(QFileInfo(m_dialer->socketPath()).permissions() &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFile::Permissions());
    // A relative socket path is taken from the working folder.
    EXPECT_EQ(runLine({"--socket", "line.sock", "status"}, m_folder).code, 0);
    // A second line never takes the socket of a live one.
    EXPECT_EQ(SimulatedDialer(DialerSettings::read(m_folder), m_dir.path()).socketPath(), "");

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

    // No socket, or a socket nobody listens on.
    const QString socket = m_dialer->socketPath();
    m_dialer.reset();
    EXPECT_FALSE(QFileInfo::exists(socket));
    writeBytes(socket, "stale");
    for (const QString& path : {m_folder + "absent.sock", socket}) {
        const LineRun run = runLine({"--socket", path, "dial", "X"});
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.err.contains("Norvale is not running")) << run.err.toStdString();
    }
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
