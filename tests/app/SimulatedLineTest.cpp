// The main window on the real built-in line: a call on an entry that is not authorised is hung up
// at state 2, an authorised one connects and its traffic shows.
#include "app/frmNV4.h"
#include "platform/MessageBox.h"
#include "platform/dialer/CreateDialer.h"
#include "platform/dialer/SimulatedDialer.h"
#include "settings/Global.h"
#include "settings/ValueEncoding.h"

#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class SimulatedLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        Global::Reset();
        MessageBox::Script();
        write(folder.filePath(QStringLiteral("dialer.conf")), "backend = simulated\nstage_ms = 20\n");
        write(folder.filePath(QStringLiteral("phonebook.conf")),
              "[Dialer Provider]\nPhone = 0245871200\n\n[Dialer Office]\nPhone = 5551234\n");
        write(folder.filePath(QStringLiteral("nv4.ini")),
              "[Connections]\r\nConName0=" + Global::EncodeValue(QStringLiteral("Provider")).toLatin1() +
                  "\r\nConNumber0=" + Global::EncodeValue(QStringLiteral("0245871200")).toLatin1() +
                  "\r\nConAuth0=true\r\nSpeedType0=6\r\nSpeedUp0=20\r\nSpeedDown0=80\r\n");
        frmNV4::Options options;
        options.programFolder = folder.path();
        options.endProgram = [] {};
        window = std::make_unique<frmNV4>(CreateDialer(folder.path() + u'/'), std::move(options));
        window->Form_Load();
        window->tmrLock->stop();
    }

    void TearDown() override {
        window.reset();
        Global::Reset();
        MessageBox::Reset();
    }

    QJsonObject lastCall() {
        const QJsonArray calls =
            static_cast<SimulatedDialer&>(window->rasDial()).lineStatus()[u"calls"].toArray();
        return calls.isEmpty() ? QJsonObject() : calls.last().toObject();
    }

    void dial(const QString& entry) {
        ASSERT_EQ(window->rasDial().SelectEntry(entry), 0);
        window->rasDial().Dial();
    }

    QTemporaryDir folder;
    std::unique_ptr<frmNV4> window;
};

TEST_F(SimulatedLineTest, AnUnauthorisedCallIsHungUpAtStateTwo) {
    dial(QStringLiteral("Office"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastCall()[u"outcome"].toString() == u"hung-up"; }, 20000));
    EXPECT_EQ(lastCall()[u"last_state"].toInt(), 2);
    EXPECT_EQ(Global::state.StatusText, QStringLiteral("Connecting device..."));
    EXPECT_FALSE(Global::state.Connected);
    EXPECT_FALSE(window->rasDial().IsOnline());
}

TEST_F(SimulatedLineTest, AnAuthorisedCallConnectsAndItsTrafficShows) {
    dial(QStringLiteral("Provider"));
    ASSERT_TRUE(QTest::qWaitFor([] { return Global::state.Connected; }, 20000));
    EXPECT_TRUE(Global::state.StatusText.startsWith(QStringLiteral("Connesso con Provider IP:10.")))
        << Global::state.StatusText.toStdString();
    EXPECT_EQ(Global::state.LineSpeedDown, 80);
    // The cycle runs on its own timer: wait for two samples.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->lblTotDw->text().endsWith(QStringLiteral(" KB")); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return window->lblTotDw->text() != QStringLiteral("0.000 KB") &&
                   window->lblTotDw->text() != QStringLiteral("0,000 KB");
        },
        20000));
    EXPECT_TRUE(window->lblDown->text().endsWith(QStringLiteral(" KB")));

    window->rasDial().HangUp();
    ASSERT_TRUE(QTest::qWaitFor([] { return !Global::state.Connected; }, 20000));
    EXPECT_EQ(Global::state.StatusText, QStringLiteral("Disconnected."));
}

} // namespace
