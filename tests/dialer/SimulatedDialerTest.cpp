// The built-in line and norvale-line, the other program that calls on it. What the guard makes of
// these calls is the black-box tests' (tests/e2e/defence.sh).
#include "TestApp.h"

#include "dialer/DialerSettings.h"
#include "dialer/SimulatedDialer.h"

#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace {

class SimulatedLine : public ::testing::Test {
protected:
    // A line whose entry Provider is selected, its stages stageMs apart.
    void start(int stageMs) {
        writeBytes(m_dir.filePath("phonebook.conf"), "[Dialer Provider]\nPhone = 0245871200\n");
        writeBytes(m_dir.filePath("dialer.conf"), "stage_ms=" + QByteArray::number(stageMs));
        m_dialer = std::make_unique<SimulatedDialer>(DialerSettings::read(m_dir.path()), m_dir.path());
        m_events.watch(*m_dialer);
        ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    }
    // The line idle again, then long enough for more stages to have come had the call gone on.
    bool waitForIdle() {
        const bool idle =
            QTest::qWaitFor([this] { return m_dialer->lineStatus().value("line") == "idle"; }, 20000);
        QTest::qWait(100);
        return idle;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SimulatedDialer> m_dialer;
    Told m_events;
};

} // namespace

TEST_F(SimulatedLine, HangUpEndsTheCallAtEveryStage) {
    // That another user cannot dial through the line's socket is the install test's
    // (tests/install/options-test.sh).
    start(5);
    ASSERT_EQ(m_dialer->SelectEntry("Nessuna"), 623);
    m_dialer->Dial();
    ASSERT_TRUE(m_events.waitFor(1));
    EXPECT_EQ(m_events, QStringList{"error 623"});
    ASSERT_EQ(m_dialer->SelectEntry("Provider"), 0);
    const QStringList stages{"0", "1", "2", "3", "5", "14", "8192"};
    for (qsizetype stage = 0; stage < stages.size(); ++stage) {
        SCOPED_TRACE(stages[stage].toStdString());
        const auto handler = QObject::connect(m_dialer.get(), &DialerControl::Status, [&](int state) {
            if (state == stages[stage].toInt())
                m_dialer->HangUp();
        });
        m_events.clear();
        m_dialer->Dial();
        EXPECT_TRUE(m_events.isEmpty()) << "signals come from the event loop, not from Dial";
        ASSERT_TRUE(m_events.waitFor(stage + 1));
        ASSERT_TRUE(waitForIdle());
        QObject::disconnect(handler);
        const bool connected = stages[stage] == "8192";
        EXPECT_EQ(m_events,
                  stages.mid(0, stage + 1) + (connected ? QStringList{"8193", "disconnect"} : QStringList{}));
        EXPECT_FALSE(m_dialer->IsOnline());
    }
}

// An error on the idle line, then one in the middle of a call, which ends it: it was never
// connected, so no Disconnect. Stages a second apart let norvale-line's request arrive during one.
TEST_F(SimulatedLine, ModemErrorsArriveAsLastErrorAndEndTheCall) {
    start(1000);
    const auto lineError = [this](const char* code) {
        QProcess line;
        line.start(NORVALE_LINE, {"--socket", m_dialer->socketPath(), "error", code});
        EXPECT_TRUE(QTest::qWaitFor([&] { return line.state() == QProcess::NotRunning; }, 20000));
        EXPECT_EQ(line.exitCode(), 0);
    };
    lineError("680");
    ASSERT_TRUE(m_events.waitFor(1));
    m_dialer->Dial();
    ASSERT_TRUE(m_events.waitFor(3));
    lineError("676");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(m_events, (QStringList{"error 680", "0", "1", "error 676"}));
    EXPECT_EQ(m_events.texts, (QStringList{"There was no dial tone.", "The phone line is busy."}));
}
