// The 500 ms cycle: hiding on the fifth tick, the news hand-over, totals, rates, level bars and
// graphs.
#include "news/NewsState.h"
#include "MainWindowFixture.h"

#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"

#include <QLabel>

namespace {

class TrafficCycleTest : public MainWindowFixture {
protected:
    // Up on a line of 10 KB/s up and 100 KB/s down, counters at 0.
    void connect() {
        load();
        Global::state.Connected = true;
        Global::state.LineSpeedUp = 10;
        Global::state.LineSpeedDown = 100;
        window->vfdUp->setMax(10);
        window->vfdDw->setMax(100);
        line->online = true;
    }

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

TEST_F(TrafficCycleTest, TotalsAndRatesFollowTheLocaleAndTheMegabyteBoundary) {
    connect();
    // Nothing is sampled unless the line is online and the connection authorised.
    line->online = false;
    tick(5000, 5000);
    Global::state.Connected = false;
    line->online = true;
    tick(5000, 5000);
    EXPECT_EQ(captions(), (QStringList{QStringLiteral("UP"), QStringLiteral("DOWN"), QStringLiteral("UP"),
                                       QStringLiteral("DOWN")}));
    Global::state.Connected = true;

    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    tick(1000000, 1000001);
    EXPECT_EQ(captions(), (QStringList{QStringLiteral("1.000,000 KB"), QStringLiteral("1,000 MB"),
                                       QStringLiteral("2.000,00 KB"), QStringLiteral("2.000,00 KB")}));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    tick(1000000, 1000001);
    EXPECT_EQ(captions(), (QStringList{QStringLiteral("1,000.000 KB"), QStringLiteral("1.000 MB"),
                                       QStringLiteral("0.00 KB"), QStringLiteral("0.00 KB")}));
    tick(1500000000, 0);
    EXPECT_EQ(window->lblTotUp->text(), QStringLiteral("1.500 GB"));
    EXPECT_EQ(window->lblTotDw->text(), QStringLiteral("0.000 KB"));
    EXPECT_EQ(window->lblDown->text(), QStringLiteral("-2,000.00 KB"));
}

TEST_F(TrafficCycleTest, LevelsAndGraphsFollowTheRates) {
    connect();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    tick(1000, 25000); // 2 KB/s of 10 up, 50 KB/s of 100 down
    EXPECT_EQ(window->lblUp->text(), QStringLiteral("2.00 KB"));
    EXPECT_EQ(window->barUp->Percent(), 20);
    EXPECT_EQ(window->barDw->Percent(), 50);
    EXPECT_EQ(window->vfdUp->History().back(), 2);
    EXPECT_EQ(window->vfdDw->History().back(), 50);

    tick(2250, 26750); // 2.5 and 3.5 round to the even neighbour
    EXPECT_EQ(window->vfdUp->History().back(), 2);
    EXPECT_EQ(window->vfdDw->History().back(), 4);
    EXPECT_EQ(window->barUp->Percent(), 25);

    tick(1750, 26750); // a negative difference passes through; the level shows 0
    EXPECT_EQ(window->lblUp->text(), QStringLiteral("-1.00 KB"));
    EXPECT_EQ(window->barUp->Percent(), 0);
    EXPECT_EQ(window->vfdUp->History().back(), -1);
    EXPECT_EQ(window->lblDown->text(), QStringLiteral("0.00 KB"));
    EXPECT_EQ(window->vfdDw->History().back(), 0);

    tick(1750 + 600000, 26750 + 1000); // 1200 KB/s on a 10 KB/s line: 12000 %
    EXPECT_EQ(window->barUp->Percent(), 12000);
    EXPECT_EQ(window->vfdUp->History().back(), 10); // the graph stops at its full scale

    // No line speed: no level. 400 KB/s on a line of 1: the level stops at its 16-bit limit.
    Global::state.LineSpeedUp = 0;
    Global::state.LineSpeedDown = 1;
    tick(801750, 226750);
    EXPECT_EQ(window->barUp->Percent(), 0);
    EXPECT_EQ(window->barDw->Percent(), 32767);
}

TEST_F(TrafficCycleTest, TheFifthTickHidesTheWindowOnceAndOnlyIntoATray) {
    load();
    window->show();
    testing::internal::CaptureStderr();
    for (int i = 0; i < 8; ++i)
        window->tmrCycle_Timer();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(said.find("no notification area"), std::string::npos);
    EXPECT_EQ(said.find("no notification area"), said.rfind("no notification area"));

    window.reset();
    Global::Reset();
    trayAvailable = true;
    load();
    window->show();
    for (int i = 1; i <= 4; ++i)
        window->tmrCycle_Timer();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->tryDialer->Visible());
    window->tmrCycle_Timer();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->tryDialer->Visible());
    window->show();
    for (int i = 0; i < 10; ++i)
        window->tmrCycle_Timer();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(TrafficCycleTest, ADownloadedNewsFileIsReadOnceAndOpenedOnTheNextTick) {
    load();
    int soundChecks = 0;
    window->Hooks().CheckSoundEnd = [&] { ++soundChecks; };
    window->tmrCycle_Timer();
    EXPECT_EQ(News::state.NewsDownloadResult, News::NothingYet);
    EXPECT_EQ(News::state.NewsFilePath, path(QStringLiteral("data.tmp")));

    QFile file(path(QStringLiteral("data.tmp")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Nobody listens there: the page never arrives and the news window stays hidden.
    file.write("http://127.0.0.1:9/page.html\r\nsecond line\r\n");
    file.close();
    News::state.NewsDownloadResult = News::Downloaded;
    window->tmrCycle_Timer();
    EXPECT_EQ(News::state.NewsUrl, QStringLiteral("http://127.0.0.1:9/page.html"));
    EXPECT_TRUE(News::state.NewsPending);
    EXPECT_EQ(News::state.NewsDownloadResult, News::AlreadyRead);
    EXPECT_TRUE(News::state.Browse.isNull());
    window->tmrCycle_Timer();
    EXPECT_FALSE(News::state.NewsPending);
    ASSERT_FALSE(News::state.Browse.isNull());
    EXPECT_FALSE(News::state.Browse->isVisible());
    EXPECT_EQ(soundChecks, 3);
    EXPECT_FALSE(window->tmrUrl->isActive());
}

} // namespace
