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
    const QString refused = u"La connessione predefinita non è stata autorizzata..."_s;
    const QString mayNot =
        u"Non puoi usare la linea.\rQuesta azione è permessa solo agli utenti del gruppo dip o "
        u"amministratori."_s;
    const struct {
        const char* answer;
        int beeps;
        const char* log;
        QString status;
    } cases[] = {
        {R"({"result":"no_default"})", 1, "", u"before"_s},
        {R"({"result":"dialled"})", 0, "", u"before"_s},
        {R"({"result":"not_authorised"})", 0, "PlaySound error.mp3", refused},
        {R"({"result":"select_failed","code":623,"text":"No entry."})", 0, "PlaySound error.mp3",
         u"Codice errore:  623 - No entry."_s},
        {R"({"ok":false,"error":"refused"})", 0, "", u"before"_s},
    };
    start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        window->tmrInfo_Timer(); // the status area collapsed
        window->ShowStatus(u"before"_s);
        window->tmrInfo->stop();
        log.clear();
        beeps = 0;
        const qsizetype boxes = MessageBox::Record().size();
        guard.answers[u"dial_default"_s] = QJsonDocument::fromJson(c.answer).object();
        guard.requests.clear();
        menu->mnuConnetti->trigger();
        ASSERT_TRUE(guard.received(u"dial_default"_s));
        QTest::qWait(50);
        EXPECT_EQ(beeps, c.beeps);
        EXPECT_EQ(log.join(u';'), QLatin1String(c.log));
        EXPECT_EQ(destinations(), QStringList(4, c.status));
        EXPECT_EQ(window->height(), c.status == u"before" ? 33 : 48);
        EXPECT_EQ(MessageBox::Record().size() - boxes,
                  qsizetype(std::string_view(c.answer).find("refused") != std::string_view::npos));
        // Before the cycle's first tick: no strip.
        EXPECT_TRUE(Tray::state.Info.isNull());
    }
    EXPECT_EQ(MessageBox::Record().back().request.text, mayNot);
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
