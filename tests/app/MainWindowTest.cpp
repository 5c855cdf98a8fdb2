// The main window with a guard the test plays, and the real display program.
#include "MainWindowFixture.h"
#include "QtTestApplication.h"
#include "app/GuardWatch.h"
#include "app/SingleInstance.h"
#include "controls/PictureBox.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "dialogs/frmSetup.h"
#include "platform/ShutdownSignals.h"

#include <QJsonArray>
#include <QMouseEvent>
#include <QPushButton>

#include <csignal>
#include <optional>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

namespace Event = GuardProtocol::Event;
using Box = MessageBox::Request;
using Button = MessageBox::Button;

class MainWindowTest : public MainWindowFixture {
protected:
    // One tick of the cycle with the guard's counters at these values, waited for.
    void tick(qint32 sent, qint32 received, bool online = true, std::optional<double> ms = {}) {
        guard.answers[u"counters"_s] = {{u"online"_s, online}, {u"sent"_s, sent}, {u"received"_s, received}};
        if (ms)
            guard.answers[u"counters"_s][u"ms"_s] = *ms;
        const QString before = window->lblTotUp->text() + window->lblUp->text();
        window->tmrCycle_Timer();
        // Offline, nothing changes: a short wait shows it.
        (void)QTest::qWaitFor([&] { return window->lblTotUp->text() + window->lblUp->text() != before; },
                              online ? 2000 : 200);
    }
    QStringList captions() const {
        return {window->lblTotUp->text(), window->lblTotDw->text(), window->lblUp->text(),
                window->lblDown->text()};
    }
    void connectAuthorised() {
        guard.send(Event::Connect, {{u"authorised"_s, true},
                                    {u"entry"_s, u"Provider"_s},
                                    {u"ip"_s, u"10.64.0.7"_s},
                                    {u"speed_up"_s, 32},
                                    {u"speed_down"_s, 230}});
        ASSERT_TRUE(FakeGuard::until([] { return Global::state.Connected; }));
    }
};

TEST_F(MainWindowTest, DefaultsUntilTheGuardAnswersThenItsPlaceAndEachOutageToldOnce) {
    guard.close();
    create().Form_Load();
    EXPECT_EQ(window->pos(), QPoint(7, 1));   // 100 and 10 twips
    EXPECT_FALSE(window->tmrUrl->isActive()); // the news timer is never started
    window->tmrLock_Timer();
    // Without the guard every button answers all the same.
    EXPECT_EQ(
        std::tuple(window->cmdSetup->isEnabled(), window->cmdMin->isEnabled(), window->cmdExit->isEnabled()),
        std::tuple(true, true, true));

    for (const auto& [key, value] : {std::pair{u"start_color"_s, QJsonValue(0xFF0000)}, {u"end_color"_s, 0xFF0000},
                                     {u"top"_s, 1500}, {u"left"_s, 3000}, {u"phonebook"_s, u""_s}})
        guard.answers[u"hello"_s][key] = value;
    guard.listen();
    ASSERT_TRUE(FakeGuard::until([this] { return window->Guard().IsConnected(); }));
    EXPECT_EQ(window->pos(), QPoint(200, 100));
    EXPECT_EQ(QtTestApplication::ColourAt(QtTestApplication::Shot(*window), 200, 30), 0xFF0000);
    const Box away{QString::fromUtf8(GuardWatch::AwayText), MessageBox::Buttons::Ok,
                   MessageBox::Icon::Critical, Button::Ok, u" Errore"_s};
    const Box noPhonebook{u"Attenzione: c'è un errore nella lettura del file rasphone.pbk"_s,
                          MessageBox::Buttons::Ok, MessageBox::Icon::Critical, Button::Ok, u" Errore"_s};
    // Back within three seconds: the guard was never said to be away.
    EXPECT_EQ(MessageBox::Record(), QList<MessageBox::Shown>{{noPhonebook}});

    guard.close();
    ASSERT_TRUE(FakeGuard::until([this] { return !window->Guard().IsConnected(); }));
    // Three seconds later, and only once however long it stays away.
    QTest::qWait(GuardWatch::GraceMs + 500);
    EXPECT_EQ(MessageBox::Record(), (QList<MessageBox::Shown>{{noPhonebook}, {away}}));
    guard.listen();
    ASSERT_TRUE(FakeGuard::until([this] { return window->Guard().IsConnected(); }));
    EXPECT_EQ(window->lblStatus->text(), u"Informazioni"_s); // the outage's text goes
    guard.close();
    QTest::qWait(GuardWatch::GraceMs + 500);
    // A new outage is told again; the phonebook message is not.
    EXPECT_EQ(MessageBox::Record(), (QList<MessageBox::Shown>{{noPhonebook}, {away}, {away}}));
    // Without the guard the exit ends the display only.
    MessageBox::Script({Button::Yes});
    window->cmdExit_Click();
    EXPECT_EQ(ended, 1);
}

// Alt+F4 is the exit button. The question, the guard's refusal of a stop and the end with the guard
// show in the black-box run; the guard refuses the setup the same way.
TEST_F(MainWindowTest, OnlyAnAdministratorStopsTheGuardOrOpensTheSetup) {
    administrator = false;
    load().show();
    window->cmdSetup_Click();
    window->close();
    EXPECT_TRUE(window->isVisible());
    const QString tail = u"\rQuesta azione è permessa solo ad un utente amministratore."_s;
    const Box noExit{u"Non puoi chiudere Norvale."_s + tail, {}, {}, Button::Ok, u"Norvale"_s};
    const Box noSetup{u"Non puoi Accedere ai settaggi."_s + tail, {}, {}, Button::Ok, u"Norvale"_s};
    EXPECT_EQ(MessageBox::Record(), (QList<MessageBox::Shown>{{noSetup}, {noExit}}));
    EXPECT_TRUE(guard.requests.isEmpty());

    administrator = true;
    guard.answers[u"setup_open"_s] = {{u"ok"_s, false}, {u"error"_s, u"refused"_s}};
    window->cmdSetup_Click();
    ASSERT_TRUE(FakeGuard::until([] { return MessageBox::Record().size() == 3; }));
    EXPECT_EQ(MessageBox::Record().back(), MessageBox::Shown{noSetup});
    EXPECT_EQ(guard.requests, split("setup_open"));

    // polkit that could not be asked is no refusal: the display says why instead.
    // The guard's limit, reached, is the black-box run's (tests/e2e/tray-setup.sh).
    for (const QString& row : split("status:126:pkcheck è terminato con stato 126;new:0:motivo sconosciuto")) {
        const QStringList r = row.split(u':');
        guard.answers[u"setup_open"_s] = {
            {u"ok"_s, false}, {u"error"_s, u"auth_unavailable"_s}, {u"reason"_s, r[0]}, {u"status"_s, r[1].toInt()}};
        const qsizetype shown = MessageBox::Record().size() + 1;
        window->cmdSetup_Click();
        ASSERT_TRUE(FakeGuard::until([&] { return MessageBox::Record().size() == shown; }));
        EXPECT_EQ(MessageBox::Record().back(),
                  (MessageBox::Shown{{u"Autenticazione non disponibile: "_s + r[2], {}, {}, Button::Ok, u"Norvale"_s}}));
    }

    // The setup shows the guard's colours, which another display changed since this one heard.
    guard.answers[u"setup_open"_s] = {{u"entries"_s, QJsonArray{}}, {u"start_color"_s, 0xFF00}, {u"end_color"_s, 0xFF}};
    window->cmdSetup_Click();
    frmSetup* setup = nullptr;
    ASSERT_TRUE(FakeGuard::until([&] { return (setup = window->findChild<frmSetup*>()) != nullptr; }));
    EXPECT_EQ(std::pair(setup->picStart->BackColor(), setup->picEnd->BackColor()), std::pair(0xFF00, 0xFF));
}

// A user the guard was told to trust is asked no group: the guard decides.
TEST_F(MainWindowTest, AUserTheGuardTrustsMayOpenTheSetup) {
    administrator = false;
    guard.answers[u"hello"_s][u"trusted"_s] = true;
    load().show();
    ASSERT_TRUE(FakeGuard::until([this] { return window->Guard().IsConnected(); }));
    window->cmdSetup_Click();
    ASSERT_TRUE(FakeGuard::until([this] { return !guard.requests.isEmpty(); }));
    EXPECT_EQ(guard.requests, split("setup_open"));
    EXPECT_TRUE(MessageBox::Record().isEmpty());
}

TEST_F(MainWindowTest, DraggingMovesWithTheLeftButtonAloneAndEveryReleaseSendsThePlace) {
    load().placeAt({100, 50});
    // Back to back, each motion comes before the window manager moved the window: local to the press.
    const auto mouse = [this](QEvent::Type type, QPointF screen, Qt::MouseButtons held) {
        QMouseEvent event(type, screen - QPointF(100, 50), screen, Qt::LeftButton, held, {});
        QCoreApplication::sendEvent(window.get(), &event);
    };
    mouse(QEvent::MouseButtonPress, {120, 56}, Qt::LeftButton);
    for (int i = 1; i <= 20; ++i)
        mouse(QEvent::MouseMove, {120 + 5.0 * i, 56 + 2.5 * i}, Qt::LeftButton);
    EXPECT_EQ(window->pos(), QPoint(200, 100));
    mouse(QEvent::MouseMove, {900, 900}, Qt::LeftButton | Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, {900, 900}, {});
    mouse(QEvent::MouseMove, {900, 900}, Qt::LeftButton);
    EXPECT_EQ(window->pos(), QPoint(200, 100));
    EXPECT_TRUE(guard.received(uR"(position {"left":3000,"top":1500})"_s));

    // A click without movement on the red title copy sends it too; one on the status line, a graph
    // or a level neither drags nor sends.
    window->placeAt({0, 0});
    const QList<QWidget*> others{window->lblStatus, window->vfdUp->picDisplay, window->barUp};
    for (QWidget* other : others)
        QtTestApplication::Mouse(*other, QEvent::MouseButtonPress, QPointF(3, 3));
    EXPECT_FALSE(window->Dragging());
    QtTestApplication::Click(*window->lblInfo[1]);
    EXPECT_TRUE(guard.received(uR"(position {"left":0,"top":0})"_s));
    EXPECT_EQ(guard.requests.size(), 2);
}

// Hidden without a notification area the window could never come back.
TEST_F(MainWindowTest, TheFifthTickAndMinimiseHideOnlyIntoATray) {
    for (const bool tray : {false, true}) {
        SCOPED_TRACE(tray);
        trayAvailable = tray;
        int soundChecks = 0;
        load().placeAt({40, 30});
        window->Hooks().CheckSoundEnd = [&] { ++soundChecks; };
        window->show();
        for (int i = 1; i <= 15; ++i) {
            window->tmrCycle_Timer();
            EXPECT_EQ(window->isVisible(), !(tray && i == 5)) << i;
            EXPECT_EQ(window->tryDialer->Visible(), tray && i == 5) << i;
            window->tryDialer->Callback(TrayArea::LeftDoubleClickMessage, {}, {});
            EXPECT_EQ(window->pos(), QPoint(40, 30));
        }
        EXPECT_EQ(soundChecks, 15); // every tick looks whether the sound has ended
        window->cmdMin_Click();
        EXPECT_EQ(window->isVisible(), !tray);
    }
}

TEST_F(MainWindowTest, EveryStateAndNoticeShowsItsTextInFourPlacesAndOpensTheStatusArea) {
    load().Form_DblClick();
    for (const QString& row :
         split("-1=Idle...;0=Opening port...;1=port opened.;2=Connecting device...;3=Device connected.;"
               "5=Authenticating...;14=Successefully connected!;8192=Connection estabilished with ip: "
               "10.64.0.7;"
               "8193=Connection closed.;4=State code: 4;-2=State code:-2")) {
        const int state = row.section(u'=', 0, 0).toInt();
        const QString text = row.section(u'=', 1);
        SCOPED_TRACE(state);
        ASSERT_TRUE(window->tmrInfo->isActive());
        window->tmrInfo_Timer();
        guard.send(Event::Status, {{u"state"_s, state}, {u"ip"_s, state == 8192 ? u"10.64.0.7"_s : u""_s}});
        EXPECT_TRUE(FakeGuard::until([&] { return shown() == text; })) << qPrintable(shown());
    }
    EXPECT_TRUE(window->tmrInfo->isActive());
    EXPECT_TRUE(log.isEmpty()); // no sound
    guard.send(Event::Notice, {{u"text"_s, u"Impossibile salvare le impostazioni."_s}});
    EXPECT_TRUE(FakeGuard::until([&] { return shown() == u"Impossibile salvare le impostazioni."_s; }));
}

TEST_F(MainWindowTest, ConnectDisconnectAndErrorsAsTheGuardTold) {
    load();
    guard.send(Event::Disconnect); // without a connection it is still reported
    ASSERT_TRUE(FakeGuard::until([&] { return shown() == u"Disconnected."_s; }));
    // Hung up by the guard: the cue before its check is all that is left of it.
    guard.send(Event::Connect,
               {{u"authorised"_s, false}, {u"entry"_s, u"Premium"_s}, {u"ip"_s, u"10.1.1.1"_s}});
    ASSERT_TRUE(FakeGuard::until([&] { return log.size() == 3; }));
    EXPECT_FALSE(Global::state.Connected);
    connectAuthorised();
    EXPECT_EQ(std::pair(window->vfdUp->Max(), window->vfdDw->Max()), std::pair(32, 230));
    EXPECT_EQ(shown(), u"Connesso con Provider IP:10.64.0.7"_s);
    guard.send(Event::Disconnect);
    ASSERT_TRUE(FakeGuard::until([] { return !Global::state.Connected; }));
    EXPECT_EQ(Global::state.LineSpeedDown, 230); // kept from the last connection
    EXPECT_EQ(log, split("PlaySound disconnected.mp3;Info DISCONNESSIONE|18;PlaySound connected.mp3;"
                         "PlaySound connected.mp3;Info Connesso. IP: 10.64.0.7|18;"
                         "PlaySound disconnected.mp3;Info DISCONNESSIONE|18"));

    // Errors show their code; the pop-up opens only once the cycle runs.
    log.clear();
    guard.send(Event::LastError, {{u"code"_s, 25633}, {u"text"_s, u"The port is not available."_s}});
    ASSERT_TRUE(FakeGuard::until([&] { return !log.isEmpty(); }));
    EXPECT_EQ(shown(), u"Codice errore:  633 - The port is not available."_s);
    window->tmrCycle_Timer();
    window->rasDial_LastError(24999, u"x"_s, 0);
    window->rasDial_LastError(-3, u"y"_s, 0);
    EXPECT_EQ(log, split("PlaySound error.mp3;PlaySound error.mp3;Info Codice errore:  24999 - x|8;"
                         "PlaySound error.mp3;Info Codice errore: -3 - y|8"));
}

// A display that comes during a call shows it without the cue or the pop-up, and its first counters
// give no rate.
TEST_F(MainWindowTest, JoiningDuringACallShowsItConnectedWithoutAFalseRate) {
    guard.answers[u"hello"_s][u"connected"_s] = true;
    load();
    EXPECT_EQ(shown(), u"Connesso con Provider IP:10.64.0.9"_s);
    EXPECT_EQ(window->vfdDw->Max(), 14);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    tick(1000000, 9000000);
    EXPECT_EQ(captions(), split("1,000.000 KB;9.000 MB;0.00 KB;0.00 KB"));
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MainWindowTest, TotalsRatesLevelsAndGraphsFollowTheCountersAndTheLocale) {
    load();
    // Nothing is sampled unless the line is online and the connection authorised.
    guard.answers[u"counters"_s] = {{u"online"_s, true}, {u"sent"_s, 5000}, {u"received"_s, 5000}};
    window->tmrCycle_Timer();
    connectAuthorised();
    tick(5000, 5000, false);
    EXPECT_EQ(captions(), split("UP;DOWN;UP;DOWN"));

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

    // The user's marks, always Latin digits.
    QLocale::setDefault(QLocale(u"ar_EG"_s));
    tick(1000000, 1000001);
    EXPECT_EQ(captions(), split("1٬000٫000 KB;1٫000 MB;396٫50 KB;1٬546٫50 KB"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    tick(1000000, 1000001);
    EXPECT_EQ(captions(), split("1,000.000 KB;1.000 MB;0.00 KB;0.00 KB"));
    tick(1500000000, 0);
    EXPECT_EQ(captions().mid(0, 2) << window->lblDown->text(), split("1.500 GB;0.000 KB;-2,000.00 KB"));

    // Counters more than half a tick late (the guard's time stamps in ms) are rated over the time between.
    for (const auto& [sent, ms] : {std::pair{0, 1e4}, {1000, 10750}, {2502, 11501}, {8502, 14501}})
        tick(sent, 0, true, ms);
    EXPECT_EQ(window->vfdUp->History().mid(17), (QList<qint32>{2, 2, 2}));

    // The guard goes away during the call, which may stay up: no cue, no pop-up, the traffic at zero.
    log.clear();
    guard.close();
    ASSERT_TRUE(FakeGuard::until([this] { return !window->Guard().IsConnected(); }));
    EXPECT_EQ(captions().mid(2) << QString::number(window->barUp->Percent()), split("0.00 KB;0.00 KB;0"));
    EXPECT_TRUE(log.isEmpty());
}

} // namespace

TEST(SingleInstance, WithoutAPrivateRuntimeFolderRunsAndLeavesNoLockInTheWorkingFolder) {
    const QString pid = QString::number(QCoreApplication::applicationPid());
    EXPECT_TRUE(SingleInstance({}, u":"_s + pid).Claim());
    EXPECT_FALSE(QFile::exists(u"norvale-display_"_s + pid + u".lock"_s));
}

// The display catches SIGTERM, SIGINT and SIGHUP, each of which ends it through its unload with no
// thread blocking it (tests/install/options-test.sh); once the catcher is gone they end the program again.
TEST(ShutdownSignals, OnceTheCatcherIsGoneTheSignalsEndTheProgramAgain) {
    ShutdownSignals::CatchInAllThreads();
    auto shutdown = std::make_unique<ShutdownSignals>();
    struct sigaction action {};
    ::sigaction(SIGTERM, nullptr, &action);
    EXPECT_NE(action.sa_handler, SIG_DFL);
    shutdown.reset();
    ::sigaction(SIGTERM, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL);
}
