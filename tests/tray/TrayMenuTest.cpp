// The tray menu: its items, how it opens, and what each item does to the status line.
#include "MainWindowFixture.h"

#include "tray/TrayState.h"
#include "tray/frmMenu.h"

#include <QAction>
#include <QDir>
#include <QJsonDocument>
#include <QMenu>

namespace {

using namespace Qt::StringLiterals;

// The main window as the program puts it together, greeted by the guard, its timers stopped.
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
        trayAvailable = true;
        load();
        window->Hooks().PopupTrayMenu = [this](float x, float y) { menu->PopupTrayMenu(x, y); };
        window->tmrLock_Timer();
        menu = std::make_unique<frmMenu>(*window);
    }

    void TearDown() override {
        menu.reset();
        Tray::Reset();
        MainWindowFixture::TearDown();
    }

    std::unique_ptr<frmMenu> menu;
    QList<QUrl> urls;
    int beeps = 0;
};

TEST_F(TrayMenuTest, OnlyARightPressOnTheIconOpensItAndEachItemDoesWhatItSays) {
    const QPoint cursor(300, 590);
    window->tryDialer->Callback(TrayArea::LeftDownMessage, cursor, {});
    window->tryDialer->Callback(TrayArea::MiddleDownMessage, cursor, {});
    EXPECT_FALSE(menu->mnuTray->isVisible());
    window->tryDialer->Callback(TrayArea::RightDownMessage, cursor, {});
    ASSERT_TRUE(menu->mnuTray->isVisible());
    QStringList items;
    for (QAction* item : menu->mnuTray->actions())
        items << (item->isSeparator() ? u"-"_s : item->text());
    EXPECT_EQ(items.join(u'|'), u"Norvale|-|Disconnetti|Connetti a predefinita|Aiuto|-|Chiudi questo menù"_s);

    // "Chiudi questo menù" closes it and does nothing else; "Aiuto" hands the help file in the
    // program folder to the desktop.
    const QString before = shown();
    menu->mnuChiudi->trigger();
    EXPECT_FALSE(menu->mnuTray->isVisible());
    menu->mnuHelp->trigger();
    EXPECT_EQ(urls, QList<QUrl>{QUrl::fromLocalFile(QDir(folder.path()).filePath(u"norvale.hlp"_s))});
    EXPECT_EQ(shown(), before);
    EXPECT_TRUE(guard.requests.isEmpty() && log.isEmpty() && MessageBox::Record().isEmpty());

    // "Norvale" brings the window back on top and takes the icon away.
    window->cmdMin_Click();
    ASSERT_TRUE(window->tryDialer->Visible());
    ASSERT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    menu->mnuInfo->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->tryDialer->Visible());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // "Connetti a predefinita" turns the guard's answer into beeps, sounds, the status text in all
    // four places, the strip's height and message boxes. A user who may not dial is told so.
    const std::pair<const char*, QString> cases[] = {
        {R"({"result":"no_default"})", u"1||before|33|0"_s},
        {R"({"result":"dialled"})", u"0||before|33|0"_s},
        {R"({"result":"not_authorised"})",
         u"0|PlaySound error.mp3|La connessione predefinita non è stata autorizzata...|48|0"_s},
        {R"({"result":"select_failed","code":623,"text":"No entry."})",
         u"0|PlaySound error.mp3|Codice errore:  623 - No entry.|48|0"_s},
        {R"({"ok":false,"error":"refused"})", u"0||before|33|1"_s},
    };
    for (const auto& [answer, expected] : cases) {
        SCOPED_TRACE(answer);
        window->tmrInfo_Timer(); // the status area collapsed
        window->ShowStatus(u"before"_s);
        log.clear();
        beeps = 0;
        const qsizetype boxes = MessageBox::Record().size();
        guard.answers[u"dial_default"_s] = QJsonDocument::fromJson(answer).object();
        guard.requests.clear();
        menu->mnuConnetti->trigger();
        ASSERT_TRUE(guard.received(u"dial_default"_s));
        QTest::qWait(50);
        EXPECT_EQ(u"%1|%2|%3|%4|%5"_s.arg(beeps)
                      .arg(log.join(u';'), shown())
                      .arg(window->height())
                      .arg(MessageBox::Record().size() - boxes),
                  expected);
    }
    EXPECT_EQ(
        MessageBox::Record().back().request.text,
        u"Non puoi usare la linea.\rQuesta azione è permessa solo agli utenti del gruppo dip o amministratori."_s);
}

} // namespace
