// The tray menu: its items, how it opens, and what each item does to the status line.
#include "MainWindowFixture.h"

#include "tray/TrayState.h"
#include "tray/frmInfo.h"
#include "tray/frmMenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using namespace Qt::StringLiterals;

class TrayMenuTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        Tray::Reset();
        Tray::state.Beep = [this] { ++beeps; };
        Tray::state.OpenUrl = [this](const QUrl& url) {
            urls << url;
            return false;
        };
    }

    void TearDown() override {
        menu.reset();
        Tray::Reset();
        MainWindowFixture::TearDown();
    }

    // The main window as the program puts it together, greeted by the guard, its timers stopped.
    void start() {
        trayAvailable = true;
        load();
        window->Hooks().PopupTrayMenu = [this](float x, float y) { menu->PopupTrayMenu(x, y); };
        window->tmrLock_Timer();
        menu = std::make_unique<frmMenu>(*window);
    }

    std::unique_ptr<frmMenu> menu;
    QList<QUrl> urls;
    int beeps = 0;
};

TEST_F(TrayMenuTest, OnlyARightPressOnTheIconOpensItCentredOnTheCursorAndEachItemCloses) {
    start();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint cursor(screen.center().x(), screen.bottom() - 10);
    window->tryDialer->Callback(TrayArea::LeftDownMessage, cursor, {});
    window->tryDialer->Callback(TrayArea::MiddleDownMessage, cursor, {});
    EXPECT_FALSE(menu->mnuTray->isVisible());
    window->tryDialer->Callback(TrayArea::RightDownMessage, cursor, {});
    ASSERT_TRUE(menu->mnuTray->isVisible());
    QStringList items;
    for (QAction* item : menu->mnuTray->actions())
        items << (item->isSeparator() ? u"-"_s : item->text());
    EXPECT_EQ(items.join(u'|'), u"Norvale|-|Disconnetti|Connetti a predefinita|Aiuto|-|Chiudi questo menù"_s);
    const QRect shown = menu->mnuTray->geometry();
    EXPECT_LE(std::abs(shown.center().x() - cursor.x()), 1);
    EXPECT_TRUE(screen.contains(shown));
    EXPECT_FALSE(menu->isVisible());

    // "Chiudi questo menù" closes it and does nothing else; "Aiuto" hands the help file in the
    // program folder to the desktop.
    const QStringList before = destinations();
    menu->mnuChiudi->trigger();
    EXPECT_FALSE(menu->mnuTray->isVisible());
    menu->mnuHelp->trigger();
    EXPECT_EQ(urls, QList<QUrl>{QUrl::fromLocalFile(QDir(folder.path()).filePath(u"norvale.hlp"_s))});
    EXPECT_EQ(destinations(), before);
    EXPECT_TRUE(guard.requests.isEmpty() && log.isEmpty() && MessageBox::Record().isEmpty());

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

// The guard answers what it did with the default entry; the menu turns the answer into what the
// user hears and sees. A user who may not dial is told so.
TEST_F(TrayMenuTest, ConnettiAndDisconnettiFollowTheGuardsAnswer) {
    // Beeps, sounds, the status text in all four places, the strip's height, message boxes.
    const std::pair<const char*, QString> cases[] = {
        {R"({"result":"no_default"})", u"1||before|33|0"_s},
        {R"({"result":"dialled"})", u"0||before|33|0"_s},
        {R"({"result":"not_authorised"})",
         u"0|PlaySound error.mp3|La connessione predefinita non è stata autorizzata...|48|0"_s},
        {R"({"result":"select_failed","code":623,"text":"No entry."})",
         u"0|PlaySound error.mp3|Codice errore:  623 - No entry.|48|0"_s},
        {R"({"ok":false,"error":"refused"})", u"0||before|33|1"_s},
    };
    start();
    for (const auto& [answer, expected] : cases) {
        SCOPED_TRACE(answer);
        window->tmrInfo_Timer(); // the status area collapsed
        window->ShowStatus(u"before"_s);
        window->tmrInfo->stop();
        log.clear();
        beeps = 0;
        const qsizetype boxes = MessageBox::Record().size();
        guard.answers[u"dial_default"_s] = QJsonDocument::fromJson(answer).object();
        guard.requests.clear();
        menu->mnuConnetti->trigger();
        ASSERT_TRUE(guard.received(u"dial_default"_s));
        QTest::qWait(50);
        const QStringList shown = destinations();
        EXPECT_EQ(u"%1|%2|%3|%4|%5"_s.arg(beeps)
                      .arg(log.join(u';'), shown == QStringList(4, shown[0]) ? shown[0] : shown.join(u'/'))
                      .arg(window->height())
                      .arg(MessageBox::Record().size() - boxes),
                  expected);
        // Before the cycle's first tick: no strip.
        EXPECT_TRUE(Tray::state.Info.isNull());
    }
    EXPECT_EQ(
        MessageBox::Record().back().request.text,
        u"Non puoi usare la linea.\rQuesta azione è permessa solo agli utenti del gruppo dip o amministratori."_s);
}

// With the shipped type note registered, the desktop's type database takes the help file for
// HTML (and so opens it in the browser), while any other .hlp file stays a Windows help file.
TEST(HelpFileType, TheDesktopTakesTheShippedHelpForHtml) {
    const QString update = QStandardPaths::findExecutable(u"update-mime-database"_s);
    const QString gio = QStandardPaths::findExecutable(u"gio"_s);
    if (update.isEmpty() || gio.isEmpty())
        GTEST_SKIP() << "shared-mime-info or gio missing";
    QTemporaryDir home;
    const QDir program(QCoreApplication::applicationDirPath()), data(home.path());
    ASSERT_TRUE(data.mkpath(u"mime/packages"_s));
    ASSERT_TRUE(QFile::copy(program.filePath(u"norvale-help.xml"_s),
                            data.filePath(u"mime/packages/norvale-help.xml"_s)));
    for (const QString& name : {u"norvale.hlp"_s, u"other.hlp"_s})
        ASSERT_TRUE(QFile::copy(program.filePath(u"norvale.hlp"_s), data.filePath(name)));

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_DATA_HOME"_s, home.path());
    process.setProcessEnvironment(environment);
    const auto run = [&](const QString& program, const QStringList& arguments) {
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(30000) && process.exitCode() == 0)
            << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    run(update, {data.filePath(u"mime"_s)});
    const std::pair<const char*, const char*> types[] = {{"norvale.hlp", "text/html"},
                                                         {"other.hlp", "application/winhlp"}};
    for (const auto& [name, type] : types)
        EXPECT_TRUE(run(gio, {"info", "-a", "standard::content-type", data.filePath(name)})
                        .contains(u"content-type: "_s + type))
            << name;
}

} // namespace
