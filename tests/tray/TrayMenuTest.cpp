// The tray menu: its items, how it opens, and what each item does to the line, the phonebook
// lock, the status line and the info strip.
#include "MainWindowFixture.h"
#include "../dialogs/WatchedDialer.h"

#include "tray/TrayState.h"
#include "tray/frmInfo.h"
#include "tray/frmMenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Locked = QStringLiteral("held=1 readable=0 writable=0");
const QString Unlocked = QStringLiteral("held=0 readable=1 writable=1");

class TrayMenuTest : public MainWindowFixture {
protected:
    // Provider authorised with its phonebook number, Office stored but not authorised, Gone
    // authorised but no longer in the phonebook. The phonebook is a real file in the folder.
    void SetUp() override {
        MainWindowFixture::SetUp();
        Tray::Reset();
        Tray::state.Beep = [this] { ++beeps; };
        Tray::state.OpenUrl = [this](const QUrl& url) {
            urls << url;
            return false;
        };
        writeSettings("[Connections]\r\n" +
                      connection(0, QStringLiteral("Provider"), QStringLiteral("0245871200"), true, 32, 230) +
                      connection(1, QStringLiteral("Office"), QStringLiteral("065551234"), false) +
                      connection(2, QStringLiteral("Gone"), QStringLiteral("0612345678"), true));
        QFile book(path(QStringLiteral("phonebook.conf")));
        ASSERT_TRUE(book.open(QIODevice::WriteOnly));
        book.write("[Dialer Provider]\r\nPhone = 0245871200\r\n");
        book.close();
        ASSERT_TRUE(book.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    }

    void TearDown() override {
        menu.reset();
        Tray::Reset();
        MainWindowFixture::TearDown();
    }

    // The main window as the program puts it together, its timers stopped, the phonebook locked
    // as the lock timer leaves it.
    void start() {
        auto dialer = std::make_unique<WatchedDialer>(log);
        watched = dialer.get();
        line = &dialer->inner;
        line->entries = {{"Provider", "0245871200"}, {"Office", "065551234"}};
        line->phonebookPath = path(QStringLiteral("phonebook.conf"));
        frmNV4::Options options;
        options.programFolder = folder.path();
        options.isAdministrator = [] { return true; };
        options.version = [this] { return version; };
        options.notificationArea = std::make_unique<FakeArea>(true);
        options.endProgram = [this] { ++ended; };
        window = std::make_unique<frmNV4>(std::move(dialer), std::move(options));
        window->Hooks().PlaySound = [this](const QString& file) { sounds << file; };
        window->Hooks().PopupTrayMenu = [this](float x, float y) { menu->PopupTrayMenu(x, y); };
        window->Form_Load();
        for (QTimer* timer : {window->tmrCycle, window->tmrLock, window->tmrInfo, window->tmrUrl})
            timer->stop();
        if (!Global::state.IsWindows4)
            window->tmrLock_Timer();
        menu = std::make_unique<frmMenu>(*window);
        watched->calls.clear();
        sounds.clear();
    }

    QStringList destinations() const {
        return {Global::state.StatusText, window->tryDialer->ToolTip(), window->lblInfo[0]->toolTip(),
                window->lblStatus->text()};
    }

    WatchedDialer* watched = nullptr;
    std::unique_ptr<frmMenu> menu;
    QList<QUrl> urls;
    int beeps = 0;
};

TEST_F(TrayMenuTest, SevenItemsInOrderOnANeverShownCarrier) {
    start();
    QStringList items;
    for (QAction* item : menu->mnuTray->actions())
        items << (item->isSeparator() ? "-" : item->text());
    EXPECT_EQ(items.join(u'|'),
              QStringLiteral("Norvale|-|Disconnetti|Connetti a predefinita|Aiuto|-|Chiudi questo menù"));
    EXPECT_EQ(menu->mnuTray->title(), QStringLiteral("Norvale"));
    EXPECT_FALSE(menu->isVisible());
}

TEST_F(TrayMenuTest, OnlyARightPressOnTheIconOpensItCentredOnTheCursorAndEachItemCloses) {
    start();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint cursor(screen.center().x(), screen.bottom() - 10);
    window->tryDialer->Callback(TrayArea::LeftDownMessage, cursor, {});
    window->tryDialer->Callback(TrayArea::MiddleDownMessage, cursor, {});
    EXPECT_FALSE(menu->mnuTray->isVisible());
    window->tryDialer->Callback(TrayArea::RightDownMessage, cursor, {});
    ASSERT_TRUE(menu->mnuTray->isVisible());
    const QRect shown = menu->mnuTray->geometry();
    EXPECT_LE(std::abs(shown.center().x() - cursor.x()), 1);
    EXPECT_TRUE(screen.contains(shown));
    EXPECT_FALSE(menu->isVisible());

    // "Chiudi questo menù" closes it and does nothing else.
    const QStringList before = destinations();
    menu->mnuChiudi->trigger();
    EXPECT_FALSE(menu->mnuTray->isVisible());
    EXPECT_EQ(destinations(), before);
    EXPECT_TRUE(watched->calls.isEmpty());
    EXPECT_TRUE(sounds.isEmpty());

    // "Norvale" brings the window back on top and takes the icon away.
    window->cmdMin_Click();
    ASSERT_FALSE(window->isVisible());
    ASSERT_TRUE(window->tryDialer->Visible());
    ASSERT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    window->tryDialer->Callback(TrayArea::RightDownMessage, QPoint(300, 590), {});
    ASSERT_TRUE(menu->mnuTray->isVisible());
    QTest::mouseClick(menu->mnuTray, Qt::LeftButton, {},
                      menu->mnuTray->actionGeometry(menu->mnuInfo).center());
    EXPECT_FALSE(menu->mnuTray->isVisible());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->tryDialer->Visible());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(TrayMenuTest, DisconnettiHangsUpWithTheLockReleasedConnectedOrNot) {
    start();
    ASSERT_EQ(WatchedDialer::LockState(), Locked);
    for (const bool connected : {false, true}) {
        Global::state.Connected = connected;
        menu->mnuDisconnetti->trigger();
        EXPECT_EQ(WatchedDialer::LockState(), Locked) << connected;
    }
    EXPECT_EQ(watched->calls, QStringList(2, "HangUp " + Unlocked));
    EXPECT_EQ(line->hangUps, 2);
    EXPECT_TRUE(sounds.isEmpty());
}

// A default that is not authorised (stored so, or not stored at all) gets the message everywhere,
// the error sound and no call. One the phonebook no longer holds never dials the entry selected
// before.
struct ConnettiCase {
    QString entry;
    QStringList calls;
    QString status;
};
const QString Refused = QStringLiteral("La connessione predefinita non è stata autorizzata...");
class ConnettiTest : public TrayMenuTest, public ::testing::WithParamInterface<ConnettiCase> {};

TEST_P(ConnettiTest, FollowsTheDefaultEntry) {
    const ConnettiCase& c = GetParam();
    SCOPED_TRACE(c.entry.toStdString());
    start();
    // The component still has an entry selected from earlier.
    ASSERT_EQ(line->SelectEntry(QStringLiteral("Office")), DialerControl::Done);
    window->ShowStatus(QStringLiteral("before"));
    window->tmrInfo->stop();
    Global::state.DefaultEntryName = c.entry;
    menu->mnuConnetti->trigger();
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(watched->calls, c.calls);
    EXPECT_EQ(WatchedDialer::LockState(), Locked);
    EXPECT_EQ(Global::state.StatusText, c.status);
    EXPECT_EQ(sounds, QStringList{Global::state.AppFolder + "error.mp3"});
    EXPECT_TRUE(window->tmrInfo->isActive());
    EXPECT_EQ(window->height(), 48);
    if (c.status == Refused) {
        EXPECT_EQ(destinations(), QStringList(4, Refused));
    }
    // Before the cycle's first tick: no strip.
    EXPECT_TRUE(Tray::state.Info.isNull());
}

INSTANTIATE_TEST_SUITE_P(
    Defaults, ConnettiTest,
    ::testing::Values(ConnettiCase{"Office", {}, Refused}, ConnettiCase{"Nowhere", {}, Refused},
                      ConnettiCase{"Gone",
                                   {"SelectEntry Gone " + Unlocked},
                                   "Codice errore:  623 - The system could not find the phone book entry for "
                                   "this connection."}));

TEST_F(TrayMenuTest, WhereTheWindowNeverLocksThePhonebookTheMenuLeavesItAlone) {
    version = 0x0004; // 4.00
    start();
    ASSERT_TRUE(Global::state.IsWindows4);
    ASSERT_EQ(WatchedDialer::LockState(), Unlocked);
    Global::state.DefaultEntryName = QStringLiteral("Provider");
    menu->mnuConnetti->trigger();
    menu->mnuDisconnetti->trigger();
    EXPECT_EQ(watched->calls,
              (QStringList{"SelectEntry Provider " + Unlocked, "Dial " + Unlocked, "HangUp " + Unlocked}));
    EXPECT_EQ(WatchedDialer::LockState(), Unlocked);
}

TEST_F(TrayMenuTest, AiutoHandsTheHelpFileInTheProgramFolderToTheDesktop) {
    start();
    menu->mnuHelp->trigger();
    EXPECT_EQ(urls,
              QList<QUrl>{QUrl::fromLocalFile(QDir(folder.path()).filePath(QStringLiteral("norvale.hlp")))});
    EXPECT_TRUE(watched->calls.isEmpty());
    EXPECT_TRUE(MessageBox::Record().isEmpty());

    // The document shipped next to the program: an Italian HTML page.
    QFile help(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("norvale.hlp")));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    const QByteArray page = help.readAll();
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(page.contains("<html lang=\"it\">"));
    EXPECT_TRUE(page.contains("Connetti a predefinita"));
}

// With the shipped type note registered, the desktop's type database takes the help file for
// HTML (and so opens it in the browser), while any other .hlp file stays a Windows help file.
TEST(HelpFileType, TheDesktopTakesTheShippedHelpForHtml) {
    const QString update = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (update.isEmpty() || gio.isEmpty())
        GTEST_SKIP() << "shared-mime-info or gio missing";
    QTemporaryDir home;
    const QDir program(QCoreApplication::applicationDirPath()), data(home.path());
    ASSERT_TRUE(data.mkpath(QStringLiteral("mime/packages")));
    ASSERT_TRUE(QFile::copy(program.filePath(QStringLiteral("norvale-help.xml")),
                            data.filePath(QStringLiteral("mime/packages/norvale-help.xml"))));
    for (const QString& name : {QStringLiteral("norvale.hlp"), QStringLiteral("other.hlp")})
        ASSERT_TRUE(QFile::copy(program.filePath(QStringLiteral("norvale.hlp")), data.filePath(name)));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    const auto run = [&](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    run(update, {data.filePath(QStringLiteral("mime"))});
    const std::pair<const char*, const char*> types[] = {{"norvale.hlp", "text/html"},
                                                         {"other.hlp", "application/winhlp"}};
    for (const auto& [name, type] : types)
        EXPECT_TRUE(run(gio, {"info", "-a", "standard::content-type", data.filePath(name)})
                        .contains(QStringLiteral("content-type: ") + type))
            << name;
}

} // namespace
