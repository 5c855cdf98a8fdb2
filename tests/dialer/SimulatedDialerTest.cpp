// The built-in line and norvale-line, the other program that calls on it. What the guard makes of
// these calls is the black-box tests' (tests/e2e/defence.sh).
#include "TestApp.h"

#include "dialer/DialerSettings.h"
#include "dialer/SimulatedDialer.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// Generous: the machine is shared; nothing below depends on how long a wait takes.
constexpr int WaitMs = 20000;

const QStringList AllStages{"0", "1", "2", "3", "5", "14", "8192"};

bool waitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, WaitMs);
}

class SimulatedLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        writeBytes(m_folder + "phonebook.conf", "[Dialer Provider]\nPhone = 0245871200\n");
        writeBytes(m_folder + "dialer.conf", "stage_ms=" + QByteArray::number(m_stageMs));
        m_dialer = std::make_unique<SimulatedDialer>(DialerSettings::read(m_folder), m_folder);
        ASSERT_FALSE(m_dialer->socketPath().isEmpty());
        m_events.watch(*m_dialer);
    }

    // Runs the real norvale-line while this event loop keeps serving the socket: its exit code.
    int line(const QStringList& args) {
        QProcess process;
        process.start(NORVALE_LINE, QStringList{"--socket", m_dialer->socketPath()} + args);
        if (!waitFor([&] { return process.state() == QProcess::NotRunning; })) {
            ADD_FAILURE() << "norvale-line did not end: " << args.join(' ').toStdString();
            process.kill();
            process.waitForFinished();
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
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

// An error on the idle line, then one in the middle of a call, which ends it: it was never
// connected, so no Disconnect.
TEST_F(SlowLine, ModemErrorsArriveAsLastErrorAndEndTheCall) {
    ASSERT_EQ(line({"error", "680"}), 0);
    ASSERT_TRUE(m_events.waitFor(1));
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    m_dialer->Dial();
    ASSERT_TRUE(waitForEvent("1"));
    ASSERT_EQ(line({"error", "676"}), 0);
    ASSERT_TRUE(waitFor([&] { return lineState() == "idle"; }));
    QTest::qWait(100);
    EXPECT_EQ(m_events, (QStringList{"error 680", "0", "1", "error 676"}));
    EXPECT_EQ(m_events.texts, (QStringList{"There was no dial tone.", "The phone line is busy."}));
    EXPECT_EQ(lastCall()["outcome"], "error");
}

// Another user could dial through the line's socket, the modem closed to it.
TEST_F(SimulatedLine, SocketIsItsOwnersAlone) {
    EXPECT_EQ(QFileInfo(m_dialer->socketPath()).permissions() &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFile::Permissions());
}
