#include "LocalHttpServer.h"

#include "../controls/QtTestApplication.h"
#include "news/News.h"
#include "news/NewsBrowser.h"
#include "news/NewsState.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QFile>
#include <QNetworkReply>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr int WaitMs = 15000;

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// The news steps of one traffic-cycle tick, in the cycle's order.
void tick() {
    News::CycleOpenPage();
    News::CycleReadFile();
}

// Runs the application's own event loop until done() holds, for at most WaitMs: as in the program,
// a window closing can end the loop. QTest::qWaitFor would sleep between rounds and stretch the
// slides.
bool waitFor(const std::function<bool()>& done) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, qApp, [&] {
        if (done())
            QCoreApplication::quit();
    });
    poll.start(1);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, qApp, &QCoreApplication::quit);
    limit.start(WaitMs);
    if (!done())
        QCoreApplication::exec();
    return done();
}

bool waitDownloaded() {
    return waitFor([] { return News::state.Download && !News::state.Download->Running(); });
}

bool anyWindowShown() {
    for (const QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            return true;
    return false;
}

bool onTop(const QWidget& window) {
    return window.windowFlags().testFlag(Qt::WindowStaysOnTopHint) &&
           window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
}

// Every top the window is moved to.
class MoveRecorder final : public QObject {
public:
    std::vector<int> tops;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Move)
            tops.push_back(static_cast<QWidget*>(watched)->y());
        return QObject::eventFilter(watched, event);
    }
};

class NewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        News::Reset();
        News::state.NewsFilePath = dir.filePath(QStringLiteral("data.tmp"));
        News::state.NewsServer = server.Base();
        News::state.SlideStepMs = 0;
        News::state.SleepMs = 20;
        News::state.DownMs = 50;
    }
    void TearDown() override { News::Reset(); }

    QTemporaryDir dir;
    LocalHttpServer server;
};

TEST(NewsDefaults, ProgramStartsWithTheDesignedAddressAndTimings) {
    News::Reset();
    EXPECT_EQ(News::NewsAddress(), QUrl(QStringLiteral("http://www.norvale.example/browse/news.txt")));
    EXPECT_EQ(News::state.NewsDownloadResult, News::NothingYet);

    frmBrowse browse;
    EXPECT_EQ(browse.windowTitle(), QStringLiteral("Browser"));
    EXPECT_TRUE(browse.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(browse.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(browse.isVisible());
    EXPECT_EQ(browse.tmrSleep.interval(), 1000);
    EXPECT_EQ(browse.tmrDown.interval(), 20000);
    EXPECT_FALSE(browse.tmrSleep.isActive());
    EXPECT_FALSE(browse.tmrDown.isActive());
}

TEST_F(NewsTest, PageSlidesUpAtTheBottomRightAndLeavesAfterItsTime) {
    QByteArray page = "<html><body bgcolor=\"#00c000\"><p>Norvale 4.3 is out</p>";
    for (int line = 0; line < 40; ++line)
        page += "<p>more news</p>";
    page += "</body></html>";
    server.Serve("/browse/page.html", "text/html; charset=utf-8", page);
    const QByteArray news = (server.Base() + "/browse/page.html\r\nsecond line\r\n").toLatin1();
    server.Serve("/browse/news.txt", "text/plain", news);

    ASSERT_TRUE(News::StartDownload());
    EXPECT_FALSE(News::StartDownload()); // one at a time
    EXPECT_EQ(News::state.NewsDownloadResult, News::NothingYet);
    ASSERT_TRUE(waitDownloaded());
    EXPECT_EQ(News::state.NewsDownloadResult, News::Downloaded);
    EXPECT_EQ(server.Requests("/browse/news.txt"), 1);
    EXPECT_EQ(contents(News::state.NewsFilePath), news);

    tick(); // reads the file; the page opens one tick later
    EXPECT_EQ(News::state.NewsDownloadResult, News::AlreadyRead);
    EXPECT_EQ(News::state.NewsUrl, server.Base() + "/browse/page.html");
    EXPECT_TRUE(News::state.NewsPending);
    EXPECT_TRUE(News::state.Browse.isNull());

    // Read once: a file changed afterwards is not read again.
    write(News::state.NewsFilePath, "http://127.0.0.1:1/other\r\n");
    tick();
    EXPECT_FALSE(News::state.NewsPending);
    EXPECT_EQ(News::state.NewsUrl, server.Base() + "/browse/page.html");
    ASSERT_FALSE(News::state.Browse.isNull());
    frmBrowse& browse = *News::state.Browse;
    EXPECT_FALSE(browse.isVisible()); // until the page has arrived
    tick();

    MoveRecorder moves;
    browse.installEventFilter(&moves);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QRect arrived, slidUp;
    bool shownOnArrival = false, clickThrough = false, onTopWhenUp = false, onTopAtUnload = true;
    bool scrollBarShown = true;
    QString pageText;
    QImage shot;
    std::vector<int>::size_type movesWhenUp = 0;
    QObject::connect(browse.Browser, &NewsBrowser::NavigateComplete2, &browse, [&] {
        arrived = browse.geometry();
        shownOnArrival = browse.isVisible();
    });
    QObject::connect(&browse, &frmBrowse::SlidUp, [&] {
        slidUp = browse.geometry();
        movesWhenUp = moves.tops.size();
        clickThrough = browse.windowHandle()->flags().testFlag(Qt::WindowTransparentForInput);
        onTopWhenUp = onTop(browse);
        scrollBarShown = browse.Browser->verticalScrollBar()->isVisible();
        pageText = browse.Browser->toPlainText();
        shot = QtTestApplication::Shot(browse);
    });
    QObject::connect(&browse, &frmBrowse::Unloaded, [&] { onTopAtUnload = onTop(browse); });
    bool lastWindowClosed = false;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, &browse, [&] { lastWindowClosed = true; });

    ASSERT_TRUE(waitFor([] { return News::state.Browse.isNull(); }));
    EXPECT_EQ(server.Requests("/browse/page.html"), 1);

    // Arrived: flush right, just below the bottom edge, shown.
    EXPECT_TRUE(shownOnArrival);
    EXPECT_EQ(arrived.x() + arrived.width(), screen.x() + screen.width());
    EXPECT_EQ(arrived.y(), screen.y() + screen.height());
    EXPECT_EQ(arrived.size(), QSize(Twips::ToPixelsX(6405), Twips::ToPixelsY(2085)));

    // Up: flush right, its bottom about 400 twips above the screen's bottom.
    ASSERT_FALSE(slidUp.isNull());
    EXPECT_EQ(slidUp.x() + slidUp.width(), screen.x() + screen.width());
    const int gap = screen.y() + screen.height() - (slidUp.y() + slidUp.height());
    EXPECT_NEAR(gap, Twips::ToPixelsY(400), 1);
    EXPECT_TRUE(clickThrough);
    EXPECT_TRUE(onTopWhenUp);
    EXPECT_FALSE(scrollBarShown);
    EXPECT_TRUE(pageText.startsWith(QStringLiteral("Norvale 4.3 is out"))) << pageText.toStdString();
    EXPECT_EQ(QtTestApplication::ColourAt(shot, shot.width() / 2, 1), 192 * 256); // the page's green
    EXPECT_FALSE(onTopAtUnload);
    EXPECT_FALSE(lastWindowClosed);

    // It slid in small steps both ways and ended below the screen.
    ASSERT_GT(movesWhenUp, 10u);
    ASSERT_GT(moves.tops.size(), movesWhenUp + 10);
    const std::vector<int> up(moves.tops.begin(), moves.tops.begin() + movesWhenUp);
    const std::vector<int> down(moves.tops.begin() + movesWhenUp, moves.tops.end());
    EXPECT_TRUE(std::is_sorted(up.rbegin(), up.rend()));
    EXPECT_TRUE(std::is_sorted(down.begin(), down.end()));
    EXPECT_EQ(up.back(), slidUp.y());
    EXPECT_GE(down.back(), screen.y() + screen.height());
    EXPECT_FALSE(anyWindowShown());
}

TEST_F(NewsTest, EmptyNewsFileOpensNothing) {
    server.Serve("/browse/news.txt", "text/plain", "");
    ASSERT_TRUE(News::StartDownload());
    ASSERT_TRUE(waitDownloaded());
    EXPECT_EQ(News::state.NewsDownloadResult, News::Downloaded);
    EXPECT_TRUE(QFile::exists(News::state.NewsFilePath));
    EXPECT_EQ(contents(News::state.NewsFilePath), QByteArray());

    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(News::state.NewsDownloadResult, News::AlreadyRead);
    EXPECT_FALSE(News::state.NewsPending);
    EXPECT_TRUE(News::state.NewsUrl.isEmpty());
    EXPECT_TRUE(News::state.Browse.isNull());
}

TEST_F(NewsTest, FailedDownloadShowsNothingAndKeepsTheOldFile) {
    const QByteArray old = "http://127.0.0.1:1/old\r\n";
    write(News::state.NewsFilePath, old);

    // Nothing at that path on the server.
    ASSERT_TRUE(News::StartDownload());
    ASSERT_TRUE(waitDownloaded());
    EXPECT_EQ(News::state.NewsDownloadResult, qint32{QNetworkReply::ContentNotFoundError});
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(News::state.NewsDownloadResult, qint32{QNetworkReply::ContentNotFoundError});
    EXPECT_EQ(contents(News::state.NewsFilePath), old);

    // No server at all.
    server.Serve("/browse/news.txt", "text/plain", "http://127.0.0.1:1/new\r\n");
    server.Close();
    ASSERT_TRUE(News::StartDownload());
    ASSERT_TRUE(waitDownloaded());
    EXPECT_EQ(News::state.NewsDownloadResult, qint32{QNetworkReply::ConnectionRefusedError});
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(contents(News::state.NewsFilePath), old);
    EXPECT_FALSE(News::state.NewsPending);
    EXPECT_TRUE(News::state.NewsUrl.isEmpty());
    EXPECT_TRUE(News::state.Browse.isNull());
    EXPECT_FALSE(anyWindowShown());
}

TEST_F(NewsTest, UnwritableTargetIsAFailure) {
    server.Serve("/browse/news.txt", "text/plain", "http://127.0.0.1:1/page\r\n");
    News::state.NewsFilePath = dir.filePath(QStringLiteral("no such folder/data.tmp"));
    ASSERT_TRUE(News::StartDownload());
    ASSERT_TRUE(waitDownloaded());
    EXPECT_EQ(News::state.NewsDownloadResult, News::WriteFailed);
    tick();
    EXPECT_FALSE(News::state.NewsPending);
}

TEST_F(NewsTest, FirstLineIsReadWhateverTheLineEnds) {
    const std::vector<std::pair<QByteArray, QString>> files = {
        {"http://a.example/x", "http://a.example/x"},
        {"http://a.example/lf\nsecond\n", "http://a.example/lf"},
        {"http://a.example/cr\rsecond\r", "http://a.example/cr"},
        {"\r\nhttp://a.example/second", ""},
    };
    for (const auto& [bytes, first] : files) {
        News::state.NewsPending = false;
        write(News::state.NewsFilePath, bytes);
        News::state.NewsDownloadResult = News::Downloaded;
        News::CycleReadFile();
        EXPECT_TRUE(News::state.NewsPending) << bytes.constData();
        EXPECT_EQ(News::state.NewsUrl, first) << bytes.constData();
        EXPECT_EQ(News::state.NewsDownloadResult, News::AlreadyRead);
    }

    // Only a download that succeeded is read; a file gone meanwhile reads as empty.
    News::state.NewsPending = false;
    News::state.NewsUrl.clear();
    for (const qint32 result : {News::NothingYet, News::AlreadyRead, News::WriteFailed, 203}) {
        News::state.NewsDownloadResult = result;
        News::CycleReadFile();
        EXPECT_FALSE(News::state.NewsPending);
        EXPECT_EQ(News::state.NewsDownloadResult, result);
    }
    ASSERT_TRUE(QFile::remove(News::state.NewsFilePath));
    News::state.NewsDownloadResult = News::Downloaded;
    News::CycleReadFile();
    EXPECT_FALSE(News::state.NewsPending);
    EXPECT_EQ(News::state.NewsDownloadResult, News::AlreadyRead);
}

TEST_F(NewsTest, PageThatNeverArrivesLeavesTheWindowHidden) {
    write(dir.filePath(QStringLiteral("local.html")), "<html><body>local</body></html>");
    const QStringList addresses = {
        server.Base() + "/browse/missing.html",                                     // 404
        QUrl::fromLocalFile(dir.filePath(QStringLiteral("local.html"))).toString(), // not the web
        QString(),                                                                  // empty first line
    };
    for (const QString& address : addresses) {
        News::state.NewsUrl = address;
        News::state.NewsPending = true;
        tick();
        ASSERT_FALSE(News::state.Browse.isNull());
        ASSERT_TRUE(waitFor([] { return !News::state.Browse->Browser->Loading(); }));
        QCoreApplication::processEvents();
        EXPECT_FALSE(News::state.Browse->isVisible()) << address.toStdString();
        EXPECT_TRUE(News::state.Browse->Browser->toPlainText().isEmpty()) << address.toStdString();
    }
    EXPECT_EQ(server.Requests("/browse/missing.html"), 1);
}

} // namespace
