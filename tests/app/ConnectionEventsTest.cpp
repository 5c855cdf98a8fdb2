// Connection events: the status texts and where they go, the hang-up of entries that are not
// authorised, the connected state, disconnection and errors.
#include "MainWindowFixture.h"

#include "controls/vfdDisplay.h"
#include "settings/ConnectionTable.h"

#include <QLabel>

namespace {

class ConnectionEventsTest : public MainWindowFixture {
protected:
    // Provider authorised with its phonebook number, Office stored but not authorised, Tampered
    // authorised for a number the phonebook no longer has; Stranger is in the phonebook only.
    void SetUp() override {
        MainWindowFixture::SetUp();
        writeSettings("[Connections]\r\n" +
                      connection(0, QStringLiteral("Provider"), QStringLiteral("0245871200"), true, 32, 230) +
                      connection(1, QStringLiteral("Office"), QStringLiteral("065551234"), false) +
                      connection(2, QStringLiteral("Tampered"), QStringLiteral("0245871299"), true));
        create();
        line->entries.append({QStringLiteral("Tampered"), QStringLiteral("899000111")});
        line->entries.append({QStringLiteral("Stranger"), QStringLiteral("899000222")});
        window->Form_Load();
        for (QTimer* timer : {window->tmrCycle, window->tmrLock})
            timer->stop();
        log.clear();
        sounds.clear();
    }

    // Where a status text shows: StatusText, the tray tooltip, lblInfo(0)'s tooltip, lblStatus.
    QStringList destinations() const {
        return {Global::state.StatusText, window->tryDialer->ToolTip(), window->lblInfo[0]->toolTip(),
                window->lblStatus->text()};
    }
    static QStringList four(const QString& text) { return {text, text, text, text}; }
};

TEST_F(ConnectionEventsTest, EveryStateShowsItsTextInFourPlaces) {
    const QList<std::pair<int, QString>> states{
        {-1, QStringLiteral("Idle...")},
        {0, QStringLiteral("Opening port...")},
        {1, QStringLiteral("port opened.")},
        {3, QStringLiteral("Device connected.")},
        {5, QStringLiteral("Authenticating...")},
        {14, QStringLiteral("Successefully connected!")},
        {8192, QStringLiteral("Connection estabilished with ip: 10.64.0.7")},
        {8193, QStringLiteral("Connection closed.")},
        {4, QStringLiteral("State code: 4")},
        {-2, QStringLiteral("State code:-2")},
    };
    const QString versionTip = window->lblInfo[1]->toolTip();
    for (const auto& [state, text] : states) {
        window->tmrInfo_Timer();
        ASSERT_EQ(window->height(), 33);
        window->rasDial_Status(state);
        EXPECT_EQ(destinations(), four(text)) << state;
        EXPECT_EQ(window->height(), 48) << state;
        EXPECT_TRUE(window->tmrInfo->isActive()) << state;
    }
    EXPECT_EQ(window->lblInfo[1]->toolTip(), versionTip);
    EXPECT_EQ(line->hangUps, 0);
    EXPECT_TRUE(sounds.isEmpty());
}

TEST_F(ConnectionEventsTest, StateTwoHangsUpBetweenTheTrayTooltipAndTheTitleTooltip) {
    QStringList seenAtHangUp;
    line->onHangUp = [&] { seenAtHangUp = destinations(); };
    window->ShowStatus(QStringLiteral("before"));
    line->callEntry = QStringLiteral("Stranger");
    window->rasDial_Status(2);
    const QString text = QStringLiteral("Connecting device...");
    EXPECT_EQ(seenAtHangUp, (QStringList{text, text, QStringLiteral("before"), QStringLiteral("before")}));
    EXPECT_EQ(destinations(), four(text));
}

TEST_F(ConnectionEventsTest, StateTwoAndConnectHangUpEveryEntryThatIsNotAuthorised) {
    for (const QString& entry : {QStringLiteral("Provider"), QStringLiteral("Office"),
                                 QStringLiteral("Stranger"), QStringLiteral("Tampered")}) {
        const bool authorised = entry == u"Provider";
        line->callEntry = entry;
        log.clear();
        window->rasDial_Status(2);
        EXPECT_EQ(log, authorised ? QStringList() : QStringList{QStringLiteral("HangUp")})
            << entry.toStdString();
        if (authorised)
            continue;
        // The connect sound plays before the check.
        log.clear();
        window->rasDial_Connect();
        EXPECT_EQ(log, (QStringList{QStringLiteral("PlaySound connected.mp3 locked=1 rows=3"),
                                    QStringLiteral("HangUp")}))
            << entry.toStdString();
        EXPECT_FALSE(Global::state.Connected);
        EXPECT_EQ(Global::state.LineSpeedUp, 0);
        EXPECT_TRUE(infos.isEmpty());
    }
}

TEST_F(ConnectionEventsTest, ConnectOnTheAuthorisedEntryShowsTheConnection) {
    line->callEntry = QStringLiteral("Provider");
    window->rasDial_Connect();
    EXPECT_EQ(line->hangUps, 0);
    EXPECT_TRUE(Global::state.Connected);
    EXPECT_EQ(Global::state.LineSpeedUp, 32);
    EXPECT_EQ(Global::state.LineSpeedDown, 230);
    EXPECT_EQ(window->vfdUp->Max(), 32);
    EXPECT_EQ(window->vfdDw->Max(), 230);
    EXPECT_EQ(destinations(), four(QStringLiteral("Connesso con Provider IP:10.64.0.7")));
    EXPECT_EQ(window->height(), 48);
    EXPECT_EQ(infos, QStringList{QStringLiteral("Connesso. IP: 10.64.0.7|18")});
    EXPECT_EQ(sounds, QStringList{path(QStringLiteral("connected.mp3"))});
}

TEST_F(ConnectionEventsTest, DisconnectWithoutAConnectionStillReportsIt) {
    window->rasDial_Disconnect();
    EXPECT_EQ(sounds, QStringList{path(QStringLiteral("disconnected.mp3"))});
    EXPECT_EQ(destinations(), four(QStringLiteral("Disconnected.")));
    EXPECT_FALSE(Global::state.Connected);
    EXPECT_EQ(infos, QStringList{QStringLiteral("DISCONNESSIONE|18")});

    line->callEntry = QStringLiteral("Provider");
    window->rasDial_Connect();
    window->rasDial_Disconnect();
    EXPECT_FALSE(Global::state.Connected);
    EXPECT_EQ(Global::state.LineSpeedDown, 230); // kept from the last connection
}

TEST_F(ConnectionEventsTest, ErrorsShowTheirCodeAndOpenThePopUpOnlyOnceTheCycleRuns) {
    window->rasDial_LastError(25633, QStringLiteral("The port is not available."), 0);
    const QString text = QStringLiteral("Codice errore:  633 - The port is not available.");
    EXPECT_EQ(destinations(), four(text));
    EXPECT_EQ(sounds, QStringList{path(QStringLiteral("error.mp3"))});
    EXPECT_TRUE(infos.isEmpty());

    window->tmrCycle_Timer();
    window->rasDial_LastError(24999, QStringLiteral("x"), 0);
    EXPECT_EQ(Global::state.StatusText, QStringLiteral("Codice errore:  24999 - x"));
    window->rasDial_LastError(-3, QStringLiteral("y"), 0);
    EXPECT_EQ(Global::state.StatusText, QStringLiteral("Codice errore: -3 - y"));
    EXPECT_EQ(infos, (QStringList{QStringLiteral("Codice errore:  24999 - x|8"),
                                  QStringLiteral("Codice errore: -3 - y|8")}));
    EXPECT_FALSE(Global::state.Connected);
}

} // namespace
