// The main window on a fake line, and the real program's shut-down.
#include "MainWindowFixture.h"
#include "QtTestApplication.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "settings/ConnectionTable.h"

#include <QDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

using Box = MessageBox::Request;
using Button = MessageBox::Button;
const QByteArray IniStart = ";Norvale 4.2 - ini file\r\n[General Setup]\r\nStartColor= 255\r\n";

class MainWindowTest : public MainWindowFixture {
protected:
    // Provider authorised with its phonebook number, Office stored but not authorised, Tampered
    // authorised for a number the phonebook no longer has; Stranger is in the phonebook only.
    static inline const QByteArray FourEntries =
        "[Connections]\r\n" + connection(0, "Provider", "0245871200", true, 32, 230) +
        connection(1, "Office", "065551234", false) + connection(2, "Tampered", "0245871299", true);

    // Where a status text shows: StatusText, the tray tooltip, lblInfo(0)'s tooltip, lblStatus.
    QStringList destinations() const {
        return {Global::state.StatusText, window->tryDialer->ToolTip(), window->lblInfo[0]->toolTip(),
                window->lblStatus->text()};
    }
    static QStringList four(const QString& text) { return {text, text, text, text}; }

    void tick(qint32 sent, qint32 received) {
        line->sent = sent;
        line->received = received;
        window->tmrCycle_Timer();
    }
    QStringList captions() const {
        return {window->lblTotUp->text(), window->lblTotDw->text(), window->lblUp->text(),
                window->lblDown->text()};
    }
};

TEST_F(MainWindowTest, StartUpRunsInTheWrittenOrderAndTheLockTimerEnablesTheButtons) {
    create(";Norvale 4.2 - ini file\r\n[Connections]\r\n" + connection(0, "Provider", "0245871200", true))
        .Form_Load();
    // The setup dialog's loading against the still empty table, the stored authorised row checked,
    // the start sound once the settings are read and locked.
    EXPECT_EQ(log,
              split("EntryCount starting=1;SelectEntry Provider;EntryNumber;SelectEntry Office;EntryNumber;"
                    "SelectEntry Tampered;EntryNumber;SelectEntry Stranger;EntryNumber;SelectEntry Provider;"
                    "EntryNumber;PlaySound start.mp3 locked=1 rows=1;SetWatchOtherCalls 1;"
                    "SetReportEveryStage 1;SetWatchInterval 100;PhonebookFile"));
    EXPECT_TRUE(Global::state.SetupReady && !Global::state.StartingUp);
    EXPECT_EQ(Global::state.PhonebookPath, line->phonebookPath);
    EXPECT_TRUE(MessageBox::Record().isEmpty());
    EXPECT_EQ(window->lblInfo[0]->toolTip(), u"Versione Windows:6.01"_s);
    EXPECT_EQ(window->lblInfo[1]->toolTip(), u"Versione Windows:6.01"_s);
    EXPECT_FALSE(window->tmrUrl->isActive()); // the news timer is never started
    EXPECT_EQ(window->tmrLock->interval(), 2000);
    ASSERT_TRUE(window->tmrLock->isActive());
    for (const bool locked : {false, true}) {
        if (locked)
            window->tmrLock_Timer();
        for (QPushButton* button : {window->cmdSetup, window->cmdMin, window->cmdExit})
            EXPECT_EQ(button->isEnabled(), locked);
    }
    EXPECT_FALSE(window->tmrLock->isActive());

    version = 0x0A04; // 4.10: the buttons stay off
    create().Form_Load();
    EXPECT_TRUE(Global::state.IsWindows4);
    EXPECT_FALSE(window->tmrLock->isActive());
    EXPECT_EQ(window->lblInfo[0]->toolTip(), u"Versione Windows:4.10"_s);
}

TEST_F(MainWindowTest, TheStripShowsTheDefaultOrStoredColoursAndPlace) {
    load();
    EXPECT_EQ(window->lblInfo[1]->geometry(), window->lblInfo[0]->geometry().translated(1, 1));
    EXPECT_EQ(window->lblInfo[1]->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    // Red at the top, yellow at the bottom; the frame in the window-text colour.
    const QImage shot = QtTestApplication::Shot(*window);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 200, 1) & 0xFF00FF, 255);
    EXPECT_LT(QtTestApplication::ColourAt(shot, 200, 1) >> 8, 20);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 200, 31) & 0xFF00FF, 255);
    EXPECT_GT(QtTestApplication::ColourAt(shot, 200, 31) >> 8, 230);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 200, 0), QtTestApplication::Shown(qint32(0x80000008u)));

    load(
        "[General Setup]\r\nStartColor= 16711680\r\nEndColor= 16711680\r\nTopWin= 1500\r\nLeftWin= 3000\r\n");
    EXPECT_EQ(window->pos(), QPoint(200, 100));
    EXPECT_EQ(QtTestApplication::ColourAt(QtTestApplication::Shot(*window), 200, 30), 0xFF0000);
    // A hand-edited place beyond X11's 16-bit coordinates is held at their limits.
    load("[General Setup]\r\nTopWin=1e400\r\nLeftWin=-99999999999999999999999\r\n");
    EXPECT_EQ(window->pos(), QPoint(-32768, 32767));
}

TEST_F(MainWindowTest, AnUnreadablePhonebookPathIsReportedAndStartUpGoesOn) {
    create();
    line->phonebookPath.clear();
    window->Form_Load();
    EXPECT_EQ(MessageBox::Record(),
              (QList<MessageBox::Shown>{
                  {{u"Attenzione: c'è un errore nella lettura del file rasphone.pbk"_s,
                    MessageBox::Buttons::Ok, MessageBox::Icon::Critical, Button::Ok, u" Errore"_s}}}));
    EXPECT_TRUE(Global::state.PhonebookPath.isEmpty());
    EXPECT_FALSE(Global::state.StartingUp);
    EXPECT_TRUE(Global::state.SettingsLockFile.isHeld());
}

// Alt+F4 is the exit button: refused to a user, asked of an administrator.
TEST_F(MainWindowTest, OnlyAnAdministratorClosesOrOpensTheSetupAndExitAsksFirst) {
    administrator = false;
    load().show();
    window->cmdExit_Click();
    window->cmdSetup_Click();
    window->close();
    EXPECT_TRUE(window->isVisible());
    administrator = true;
    MessageBox::Script({Button::No});
    window->close();
    const QString tail = u"\rQuesta azione è permessa solo ad un utente amministratore."_s;
    const Box noExit{u"Non puoi chiudere Norvale."_s + tail, {}, {}, Button::Ok, u"Norvale"_s};
    const Box noSetup{u"Non puoi Accedere ai settaggi."_s + tail, {}, {}, Button::Ok, u"Norvale"_s};
    const Box ask{u"Desideri chiudere Norvale?"_s, MessageBox::Buttons::YesNo, MessageBox::Icon::Question,
                  Button::No, u" Uscire"_s};
    EXPECT_EQ(MessageBox::Record(),
              (QList<MessageBox::Shown>{{noExit}, {noSetup}, {noExit}, {ask, Button::No}}));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(Global::state.SettingsLockFile.isHeld());

    MessageBox::Script({Button::Yes});
    window->close();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(Global::state.SettingsLockFile.isHeld());
    EXPECT_FALSE(window->tmrCycle->isActive());
    EXPECT_TRUE(readBytes(path(u"nv4.ini"_s)).startsWith(IniStart + "EndColor= 65535\r\n"));
    window->close(); // once only, whatever asks again
    window->Form_Unload();
    EXPECT_EQ(ended, 1);
}

TEST_F(MainWindowTest, DraggingMovesWithTheLeftButtonAloneAndEveryReleaseSaves) {
    load().placeAt({100, 50});
    window->Form_MouseDown(1, 0, 300, 90);
    window->Form_MouseMove(1, 0, 450, 390); // 10 px right, 20 px down
    EXPECT_EQ(window->pos(), QPoint(110, 70));
    window->Form_MouseMove(2, 0, 900, 900);
    window->Form_MouseMove(3, 0, 900, 900);
    window->Form_MouseUp(2, 0, 900, 900);
    EXPECT_FALSE(window->Dragging());
    window->Form_MouseMove(1, 0, 900, 900);
    EXPECT_EQ(window->pos(), QPoint(110, 70));
    EXPECT_TRUE(Global::state.SettingsLockFile.isHeld());
    EXPECT_EQ(settingsBytes(),
              ";Norvale 4.2 - ini file\r\n[General Setup]\r\nTopWin= 1050\r\nLeftWin= 1650\r\n");

    // A click without movement on the red title copy saves too; one on the status line neither
    // drags nor saves.
    window->placeAt({0, 0});
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                      {});
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, {}, {});
    QCoreApplication::sendEvent(window->lblStatus, &press);
    EXPECT_FALSE(window->Dragging());
    QCoreApplication::sendEvent(window->lblInfo[1], &press);
    EXPECT_TRUE(window->Dragging());
    QCoreApplication::sendEvent(window->lblInfo[1], &release);
    EXPECT_FALSE(window->Dragging());
    EXPECT_TRUE(settingsBytes().endsWith("TopWin= 0\r\nLeftWin= 0\r\n"));
}

// Hidden without a notification area the window could never come back.
TEST_F(MainWindowTest, TheFifthTickAndMinimiseHideOnlyIntoATray) {
    for (const bool tray : {false, true}) {
        SCOPED_TRACE(tray);
        trayAvailable = tray;
        load().placeAt({40, 30});
        window->show();
        testing::internal::CaptureStderr();
        for (int i = 1; i <= 15; ++i) {
            window->tmrCycle_Timer();
            EXPECT_EQ(window->isVisible(), !(tray && i == 5)) << i;
            EXPECT_EQ(window->tryDialer->Visible(), tray && i == 5) << i;
            emit window->tryDialer->DblClick();
            EXPECT_EQ(window->pos(), QPoint(40, 30));
        }
        window->cmdMin_Click();
        EXPECT_EQ(window->isVisible(), !tray);
        const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_EQ(said.count(u"no notification area"_s), tray ? 0 : 2);
        EXPECT_EQ(said.contains(u"(start-up)"_s) && said.contains(u"(minimise)"_s), !tray);
    }
}

TEST_F(MainWindowTest, EveryStateShowsItsTextInFourPlacesAndOpensTheStatusArea) {
    load(FourEntries).Form_DblClick();
    EXPECT_EQ(window->height(), 48);
    EXPECT_EQ(window->tmrInfo->interval(), 6000);
    const QString versionTip = window->lblInfo[1]->toolTip();
    for (const QString& row :
         split("-1=Idle...;0=Opening port...;1=port opened.;3=Device connected.;5=Authenticating...;"
               "14=Successefully connected!;8192=Connection estabilished with ip: 10.64.0.7;"
               "8193=Connection closed.;4=State code: 4;-2=State code:-2")) {
        const int state = row.section(u'=', 0, 0).toInt();
        const QString text = row.section(u'=', 1);
        SCOPED_TRACE(state);
        ASSERT_TRUE(window->tmrInfo->isActive());
        window->tmrInfo_Timer();
        EXPECT_EQ(window->size(), QSize(509, 33));
        EXPECT_EQ(window->tryDialer->ToolTip(), u"Norvale 4.3.0"_s);
        EXPECT_FALSE(window->tmrInfo->isActive());
        window->rasDial_Status(state);
        EXPECT_EQ(destinations(), four(text));
        EXPECT_EQ(window->height(), 48);
    }
    EXPECT_TRUE(window->tmrInfo->isActive());
    EXPECT_EQ(window->lblInfo[1]->toolTip(), versionTip);
    EXPECT_TRUE(log.isEmpty()); // no hang-up, no sound
}

TEST_F(MainWindowTest, StateTwoAndConnectHangUpEveryEntryThatIsNotAuthorised) {
    load(FourEntries + connection(3, "Gone", "0123", true));
    EXPECT_TRUE(Global::IsAuthorised(u"Gone"_s)); // not in the phonebook: nothing to compare with
    // At state 2 the hang-up comes between the tray tooltip and the title tooltip.
    QStringList seenAtHangUp;
    line->onHangUp = [&] { seenAtHangUp = destinations(); };
    window->ShowStatus(u"before"_s);
    line->callEntry = u"Stranger"_s;
    window->rasDial_Status(2);
    const QString text = u"Connecting device..."_s;
    EXPECT_EQ(seenAtHangUp, (QStringList{text, text, u"before"_s, u"before"_s}));
    EXPECT_EQ(destinations(), four(text));

    // A connection the watch missed at state 2: the sound plays before the check.
    for (const char* entry : {"Office", "Stranger", "Tampered"}) {
        SCOPED_TRACE(entry);
        line->callEntry = QString::fromLatin1(entry);
        log.clear();
        window->rasDial_Connect();
        EXPECT_EQ(log, split("PlaySound connected.mp3 locked=1 rows=4;HangUp"));
        EXPECT_FALSE(Global::state.Connected);
        EXPECT_EQ(Global::state.LineSpeedUp, 0);
    }
}

TEST_F(MainWindowTest, ConnectAndDisconnectOfTheAuthorisedEntry) {
    load(FourEntries).rasDial_Disconnect(); // without a connection it is still reported
    EXPECT_EQ(destinations(), four(u"Disconnected."_s));
    line->callEntry = u"Provider"_s;
    window->rasDial_Connect();
    EXPECT_TRUE(Global::state.Connected);
    EXPECT_EQ(std::tuple(Global::state.LineSpeedUp, Global::state.LineSpeedDown, window->vfdUp->Max(),
                         window->vfdDw->Max()),
              std::tuple(32, 230, 32, 230));
    EXPECT_EQ(destinations(), four(u"Connesso con Provider IP:10.64.0.7"_s));
    EXPECT_EQ(window->height(), 48);
    window->rasDial_Disconnect();
    EXPECT_FALSE(Global::state.Connected);
    EXPECT_EQ(Global::state.LineSpeedDown, 230); // kept from the last connection
    EXPECT_EQ(log, split("PlaySound disconnected.mp3 locked=1 rows=3;Info DISCONNESSIONE|18;"
                         "PlaySound connected.mp3 locked=1 rows=3;Info Connesso. IP: 10.64.0.7|18;"
                         "PlaySound disconnected.mp3 locked=1 rows=3;Info DISCONNESSIONE|18"));
}

TEST_F(MainWindowTest, ErrorsShowTheirCodeAndOpenThePopUpOnlyOnceTheCycleRuns) {
    load().rasDial_LastError(25633, u"The port is not available."_s, 0);
    EXPECT_EQ(destinations(), four(u"Codice errore:  633 - The port is not available."_s));
    window->tmrCycle_Timer();
    window->rasDial_LastError(24999, u"x"_s, 0);
    EXPECT_EQ(Global::state.StatusText, u"Codice errore:  24999 - x"_s);
    window->rasDial_LastError(-3, u"y"_s, 0);
    EXPECT_EQ(Global::state.StatusText, u"Codice errore: -3 - y"_s);
    EXPECT_EQ(log, split("PlaySound error.mp3 locked=1 rows=0;PlaySound error.mp3 locked=1 rows=0;"
                         "Info Codice errore:  24999 - x|8;PlaySound error.mp3 locked=1 rows=0;"
                         "Info Codice errore: -3 - y|8"));
    EXPECT_FALSE(Global::state.Connected);
}

TEST_F(MainWindowTest, TotalsAndRatesFollowTheLocaleAndTheMegabyteBoundary) {
    load();
    Global::state.Connected = true;
    // Nothing is sampled unless the line is online and the connection authorised.
    tick(5000, 5000);
    Global::state.Connected = false;
    line->online = true;
    tick(5000, 5000);
    EXPECT_EQ(captions(), split("UP;DOWN;UP;DOWN"));
    Global::state.Connected = true;
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    tick(1000000, 1000001);
    EXPECT_EQ(captions(), split("1.000,000 KB;1,000 MB;2.000,00 KB;2.000,00 KB"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    tick(1000000, 1000001);
    EXPECT_EQ(captions(), split("1,000.000 KB;1.000 MB;0.00 KB;0.00 KB"));
    tick(1500000000, 0);
    EXPECT_EQ(captions().mid(0, 2) << window->lblDown->text(), split("1.500 GB;0.000 KB;-2,000.00 KB"));
}

TEST_F(MainWindowTest, LevelsAndGraphsFollowTheRates) {
    load();
    Global::state.Connected = line->online = true;
    window->vfdUp->setMax(10);
    window->vfdDw->setMax(100);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // A tick is half a second: 1000 bytes are 2 KB/s. The graphs round half to even and stop at
    // their full scale; the levels show 0 for a negative rate or no line speed and stop at 16 bits.
    const struct {
        qint32 sent, received, speedUp, speedDown;
        const char* shown;
    } ticks[] = {{1000, 25000, 10, 100, "2.00 KB;50.00 KB;20;50;2;50"},
                 {2250, 26750, 10, 100, "2.50 KB;3.50 KB;25;4;2;4"},
                 {1750, 26750, 10, 100, "-1.00 KB;0.00 KB;0;0;-1;0"},
                 {601750, 27750, 10, 100, "1,200.00 KB;2.00 KB;12000;2;10;2"},
                 {801750, 226750, 0, 1, "400.00 KB;398.00 KB;0;32767;10;100"}};
    for (const auto& t : ticks) {
        SCOPED_TRACE(t.sent);
        Global::state.LineSpeedUp = t.speedUp;
        Global::state.LineSpeedDown = t.speedDown;
        tick(t.sent, t.received);
        EXPECT_EQ(captions().mid(2) << QString::number(window->barUp->Percent())
                                    << QString::number(window->barDw->Percent())
                                    << QString::number(window->vfdUp->History().back())
                                    << QString::number(window->vfdDw->History().back()),
                  split(t.shown));
    }
}

// The page is read on one tick and opened on the next; nobody listens at it, so it stays hidden.
TEST_F(MainWindowTest, EveryTickChecksTheSoundAndTakesTheNewsSteps) {
    int soundChecks = 0;
    load().Hooks().CheckSoundEnd = [&] { ++soundChecks; };
    EXPECT_EQ(News::state.NewsFilePath, path(u"data.tmp"_s));
    writeBytes(path(u"data.tmp"_s), "http://127.0.0.1:9/page.html\r\nsecond line\r\n");
    News::state.NewsDownloadResult = News::Downloaded;
    window->tmrCycle_Timer();
    EXPECT_EQ(News::state.NewsUrl, u"http://127.0.0.1:9/page.html"_s);
    EXPECT_TRUE(News::state.NewsPending && News::state.Browse.isNull());
    window->tmrCycle_Timer();
    EXPECT_FALSE(News::state.NewsPending);
    ASSERT_FALSE(News::state.Browse.isNull());
    EXPECT_FALSE(News::state.Browse->isVisible());
    EXPECT_EQ(soundChecks, 2);
}

// The real program shuts down on SIGINT and SIGHUP as on SIGTERM (which e2e sends) and through its
// exit button: the phonebook writable again, the settings saved and released.
TEST_F(MainWindowTest, TheRealProgramShutsDownOnEverySignal) {
    for (const int signalNumber : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        QTemporaryDir own; // the program's folder is the one it lies in
        const QString book = own.filePath(u"phonebook.conf"_s);
        ASSERT_TRUE(QFile::copy(QStringLiteral(NORVALE_PROGRAM), own.filePath(u"norvale"_s)));
        writeBytes(book, "[Dialer Provider]\nPhone = 0245871200\n");
        QProcess norvale; // on the offscreen platform the test runs on
        norvale.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        norvale.start(own.filePath(u"norvale"_s), {});
        // Locked two seconds after start-up: the write bits go.
        const auto writable = [&] { return bool(QFileInfo(book).permissions() & QFile::WriteOwner); };
        ASSERT_TRUE(QTest::qWaitFor([&] { return !writable(); }, 20000));
        ASSERT_EQ(::kill(pid_t(norvale.processId()), signalNumber), 0);
        ASSERT_TRUE(norvale.waitForFinished(20000));
        EXPECT_EQ(std::pair(norvale.exitStatus(), norvale.exitCode()), std::pair(QProcess::NormalExit, 0));
        EXPECT_TRUE(writable() && QFile(book).open(QIODevice::Append));
        const QByteArray settings = readBytes(own.filePath(u"nv4.ini"_s));
        EXPECT_TRUE(settings.startsWith(IniStart) && settings.contains("\r\n[Connections]\r\nConName0="))
            << settings.constData();
    }
}

} // namespace
