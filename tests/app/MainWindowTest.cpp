// The main window: start-up order, the stored-number check, the phonebook message, the buttons and
// their refusals, dragging, the status area, shut-down.
#include "MainWindowFixture.h"

#include "QtTestApplication.h"
#include "platform/Twips.h"
#include "settings/ConnectionTable.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace {

const QString NotAdminTail = QStringLiteral("\rQuesta azione è permessa solo ad un utente amministratore.");

using MainWindowTest = MainWindowFixture;

TEST_F(MainWindowTest, StartUpRunsInTheWrittenOrder) {
    writeSettings(";Norvale 4.2 - ini file\r\n[Connections]\r\n" +
                  connection(0, QStringLiteral("Provider"), QStringLiteral("0245871200"), true));
    create();
    window->Form_Load();

    const QStringList expected{
        // the setup dialog's loading: the phonebook against the (still empty) table
        QStringLiteral("EntryCount starting=1"), QStringLiteral("SelectEntry Provider"),
        QStringLiteral("EntryNumber"), QStringLiteral("SelectEntry Office"), QStringLiteral("EntryNumber"),
        // the stored authorised row checked against the phonebook
        QStringLiteral("SelectEntry Provider"), QStringLiteral("EntryNumber"),
        // the start sound once the settings are read and locked
        QStringLiteral("PlaySound start.mp3 locked=1 rows=1"), QStringLiteral("SetWatchOtherCalls 1"),
        QStringLiteral("SetReportEveryStage 1"), QStringLiteral("SetWatchInterval 100"),
        QStringLiteral("PhonebookFile")};
    EXPECT_EQ(log, expected);
    EXPECT_TRUE(Global::state.SetupReady);
    EXPECT_FALSE(Global::state.StartingUp);
    EXPECT_TRUE(Global::IsAuthorised(QStringLiteral("Provider")));
    EXPECT_EQ(Global::state.PhonebookPath, line->phonebookPath);
    EXPECT_EQ(sounds, QStringList{path(QStringLiteral("start.mp3"))});
    EXPECT_TRUE(MessageBox::Record().isEmpty());
    EXPECT_EQ(window->lblInfo[0]->toolTip(), QStringLiteral("Versione Windows:6.01"));
    EXPECT_EQ(window->lblInfo[1]->toolTip(), QStringLiteral("Versione Windows:6.01"));
}

TEST_F(MainWindowTest, FirstRunShowsTheCollapsedStripAtItsDefaultPlace) {
    load();
    // 7635 x 495 twips at 15 twips per pixel; top 10, left 100 twips.
    EXPECT_EQ(window->size(), QSize(509, 33));
    EXPECT_EQ(window->pos(), QPoint(7, 1));
    EXPECT_EQ(settingsBytes(), QByteArray(";Norvale 4.2 - ini file\r\n"));
    for (QPushButton* button : {window->cmdSetup, window->cmdMin, window->cmdExit})
        EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(window->lblInfo[1]->geometry(), window->lblInfo[0]->geometry().translated(1, 1));
    EXPECT_EQ(window->lblInfo[1]->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    // Red at the top, yellow at the bottom; the frame of the strip in the window-text colour.
    const QImage shot = QtTestApplication::Shot(*window);
    const qint32 top = QtTestApplication::ColourAt(shot, 200, 1);
    EXPECT_EQ(top & 0xFF00FF, 255);
    EXPECT_LT(top >> 8, 20);
    const qint32 bottom = QtTestApplication::ColourAt(shot, 200, 31);
    EXPECT_EQ(bottom & 0xFF00FF, 255);
    EXPECT_GT(bottom >> 8, 230);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 200, 0), QtTestApplication::Shown(qint32(0x80000008u)));
}

TEST_F(MainWindowTest, StoredPositionAndColoursAreUsed) {
    writeSettings(
        "[General Setup]\r\nStartColor= 16711680\r\nEndColor= 16711680\r\nTopWin= 1500\r\nLeftWin= 3000\r\n");
    load();
    EXPECT_EQ(window->pos(), QPoint(200, 100));
    EXPECT_EQ(QtTestApplication::ColourAt(QtTestApplication::Shot(*window), 200, 30), 0xFF0000);
}

TEST_F(MainWindowTest, AStoredNumberTheDialerChangedLosesItsAuthorisation) {
    writeSettings("[Connections]\r\n" +
                  connection(0, QStringLiteral("Provider"), QStringLiteral("0245871200"), true) +
                  connection(1, QStringLiteral("Office"), QStringLiteral("065551234"), true) +
                  connection(2, QStringLiteral("Gone"), QStringLiteral("0123"), true));
    create();
    line->entries[1].number = QStringLiteral("899123456"); // rewritten while Norvale was not running
    window->Form_Load();
    EXPECT_TRUE(Global::IsAuthorised(QStringLiteral("Provider")));
    EXPECT_FALSE(Global::IsAuthorised(QStringLiteral("Office")));
    // Not in the phonebook: nothing to compare with, the row stays as stored.
    EXPECT_TRUE(Global::IsAuthorised(QStringLiteral("Gone")));
    EXPECT_EQ(Global::NumberOf(QStringLiteral("Office")), QStringLiteral("065551234"));
}

TEST_F(MainWindowTest, AnUnreadablePhonebookPathIsReportedAndStartUpGoesOn) {
    create();
    line->phonebookPath.clear();
    window->Form_Load();
    const QList<MessageBox::Shown> shown = MessageBox::Record();
    ASSERT_EQ(shown.size(), 1);
    const MessageBox::Request expected{
        QStringLiteral("Attenzione: c'è un errore nella lettura del file rasphone.pbk"),
        MessageBox::Buttons::Ok, MessageBox::Icon::Critical, MessageBox::Button::Ok,
        QStringLiteral(" Errore")};
    EXPECT_EQ(shown[0].request, expected);
    EXPECT_TRUE(Global::state.PhonebookPath.isEmpty());
    EXPECT_FALSE(Global::state.StartingUp);
    EXPECT_TRUE(Global::state.SettingsLockFile.isHeld());
}

TEST_F(MainWindowTest, LockTimerEnablesTheButtonsExceptOnVersionFour) {
    create();
    window->Form_Load();
    EXPECT_TRUE(window->tmrLock->isActive());
    EXPECT_EQ(window->tmrLock->interval(), 2000);
    window->tmrLock_Timer();
    EXPECT_FALSE(window->tmrLock->isActive());
    for (QPushButton* button : {window->cmdSetup, window->cmdMin, window->cmdExit})
        EXPECT_TRUE(button->isEnabled());

    window.reset();
    Global::Reset();
    version = 0x0A04; // 4.10
    create();
    window->Form_Load();
    EXPECT_TRUE(Global::state.IsWindows4);
    EXPECT_FALSE(window->tmrLock->isActive());
    EXPECT_EQ(window->lblInfo[0]->toolTip(), QStringLiteral("Versione Windows:4.10"));
}

TEST_F(MainWindowTest, OnlyAnAdministratorClosesOrOpensTheSetupAndExitAsksFirst) {
    administrator = false;
    load();
    window->cmdExit_Click();
    window->cmdSetup_Click();
    administrator = true;
    MessageBox::Script({MessageBox::Button::No});
    window->cmdExit_Click();
    const auto box = [](const QString& text, MessageBox::Buttons buttons, MessageBox::Icon icon,
                        MessageBox::Button byDefault, const QString& title) {
        return MessageBox::Request{text, buttons, icon, byDefault, title};
    };
    const QList<MessageBox::Shown> shown = MessageBox::Record();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0].request,
              box(QStringLiteral("Non puoi chiudere Norvale.") + NotAdminTail, MessageBox::Buttons::Ok,
                  MessageBox::Icon::None, MessageBox::Button::Ok, QStringLiteral("Norvale")));
    EXPECT_EQ(shown[1].request,
              box(QStringLiteral("Non puoi Accedere ai settaggi.") + NotAdminTail, MessageBox::Buttons::Ok,
                  MessageBox::Icon::None, MessageBox::Button::Ok, QStringLiteral("Norvale")));
    EXPECT_EQ(shown[2].request,
              box(QStringLiteral("Desideri chiudere Norvale?"), MessageBox::Buttons::YesNo,
                  MessageBox::Icon::Question, MessageBox::Button::No, QStringLiteral(" Uscire")));
    // Refused, or answered No: everything goes on.
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(Global::state.SettingsLockFile.isHeld());
    EXPECT_EQ(window->findChildren<QDialog*>().size(), 0);
}

TEST_F(MainWindowTest, ShutDownReleasesThePhonebookSavesAndReleasesTheSettings) {
    const QString book = path(QStringLiteral("phonebook.conf"));
    {
        QFile file(book);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Dialer Provider]\nPhone = 0245871200\n");
    }
    create();
    line->phonebookPath = book;
    window->Form_Load();
    window->tmrLock_Timer();
    EXPECT_TRUE(Global::state.PhonebookLockFile.isHeld());
    EXPECT_FALSE(QFileInfo(book).permissions() & QFile::WriteOwner);

    MessageBox::Script({MessageBox::Button::Yes});
    window->cmdExit_Click();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(Global::state.PhonebookLockFile.isHeld());
    EXPECT_FALSE(Global::state.SettingsLockFile.isHeld());
    EXPECT_TRUE(QFileInfo(book).permissions() & QFile::WriteOwner);
    EXPECT_FALSE(window->tmrCycle->isActive());
    const QByteArray saved = settingsBytes();
    EXPECT_TRUE(saved.startsWith(
        ";Norvale 4.2 - ini file\r\n[General Setup]\r\nStartColor= 255\r\nEndColor= 65535\r\n"))
        << saved.constData();
    EXPECT_TRUE(saved.contains("[Connections]\r\nConName0=")) << saved.constData();
    // Once only, whatever asks again.
    window->close();
    window->Form_Unload();
    EXPECT_EQ(ended, 1);
}

TEST_F(MainWindowTest, DraggingMovesWithTheLeftButtonAloneAndEveryReleaseSaves) {
    load();
    window->placeAt({100, 50});
    window->Form_MouseDown(1, 0, 300, 90);
    window->Form_MouseMove(1, 0, 450, 390); // 10 px right, 20 px down
    EXPECT_EQ(window->pos(), QPoint(110, 70));
    window->Form_MouseMove(2, 0, 900, 900);
    window->Form_MouseMove(3, 0, 900, 900);
    EXPECT_EQ(window->pos(), QPoint(110, 70));
    window->Form_MouseUp(2, 0, 900, 900);
    EXPECT_FALSE(window->Dragging());
    window->Form_MouseMove(1, 0, 900, 900);
    EXPECT_EQ(window->pos(), QPoint(110, 70));
    EXPECT_EQ(settingsBytes(),
              QByteArray(";Norvale 4.2 - ini file\r\n[General Setup]\r\nTopWin= 1050\r\nLeftWin= 1650\r\n"));
    EXPECT_TRUE(Global::state.SettingsLockFile.isHeld());

    // A click without movement on the red title copy writes the position too; a status-line click
    // neither drags nor writes.
    window->placeAt({0, 0});
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window->lblStatus, &press);
    EXPECT_FALSE(window->Dragging());
    QCoreApplication::sendEvent(window->lblInfo[1], &press);
    EXPECT_TRUE(window->Dragging());
    QCoreApplication::sendEvent(window->lblInfo[1], &release);
    EXPECT_FALSE(window->Dragging());
    EXPECT_TRUE(settingsBytes().endsWith("TopWin= 0\r\nLeftWin= 0\r\n"));
}

TEST_F(MainWindowTest, StatusAreaOpensOnDoubleClickAndClosesAfterItsTimer) {
    load();
    window->Form_DblClick();
    EXPECT_EQ(window->height(), 48);
    EXPECT_TRUE(window->tmrInfo->isActive());
    EXPECT_EQ(window->tmrInfo->interval(), 6000);
    window->tmrInfo_Timer();
    EXPECT_EQ(window->height(), 33);
    EXPECT_EQ(window->width(), 509);
    EXPECT_FALSE(window->tmrInfo->isActive());
    EXPECT_EQ(window->tryDialer->ToolTip(), QStringLiteral("Norvale 4.3.0"));
    // The news timer is never started.
    EXPECT_FALSE(window->tmrUrl->isActive());
}

TEST_F(MainWindowTest, MinimiseHidesIntoTheTrayOnlyWhereThereIsOne) {
    load();
    window->show();
    testing::internal::CaptureStderr();
    window->cmdMin_Click();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no notification area"), std::string::npos);
    EXPECT_TRUE(window->isVisible());

    window.reset();
    Global::Reset();
    trayAvailable = true;
    load();
    window->show();
    window->cmdMin_Click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->tryDialer->Visible());
    emit window->tryDialer->DblClick();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->tryDialer->Visible());
}

} // namespace

TEST_F(MainWindowTest, AWindowManagerCloseIsTheExitButton) {
    administrator = false;
    load();
    window->show();
    window->close(); // Alt+F4
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(window->isVisible());
    administrator = true;
    MessageBox::Script({MessageBox::Button::No, MessageBox::Button::Yes});
    window->close();
    EXPECT_EQ(ended, 0);
    window->close();
    EXPECT_EQ(ended, 1);
    const QList<MessageBox::Shown> shown = MessageBox::Record();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0].request.title, QStringLiteral("Norvale"));
    EXPECT_EQ(shown[1].request.title, QStringLiteral(" Uscire"));
    EXPECT_FALSE(Global::state.SettingsLockFile.isHeld());
}
