#include "news/News.h"
#include "TestFiles.h"
#include "news/NewsBrowser.h"
#include "news/NewsState.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QNetworkReply>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

// The news steps of traffic-cycle ticks, in the cycle's order.
void tick(int times = 1) {
    for (int i = 0; i < times; ++i) {
        News::CycleOpenPage();
        News::CycleReadFile();
    }
}

// Runs the application's own event loop until done() holds, for at most 15 s: as in the program, a
// window closing can end the loop. QTest::qWaitFor would sleep between rounds and stretch the slides.
bool waitFor(const std::function<bool()>& done) {
    QTimer poll, limit;
    QObject::connect(&poll, &QTimer::timeout, qApp, [&] {
        if (done())
            QCoreApplication::quit();
    });
    QObject::connect(&limit, &QTimer::timeout, qApp, &QCoreApplication::quit);
    poll.start(1);
    limit.start(15000);
    if (!done())
        QCoreApplication::exec();
    return done();
}

bool waitDownloaded() {
    return waitFor([] { return News::state.Download && !News::state.Download->Running(); });
}

class NewsTest : public ::testing::Test {
protected:
    // A tiny HTTP server on 127.0.0.1: the pages it has, 404 for others, one answer a connection.
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && server.listen(QHostAddress::LocalHost));
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(*socket); });
            }
        });
        News::Reset();
        News::state.NewsFilePath = dir.filePath(u"data.tmp"_s);
        News::state.NewsServer = base();
        News::state.SlideStepMs = 0;
        News::state.SleepMs = 20;
        News::state.DownMs = 50;
    }
    void TearDown() override { News::Reset(); }

    void answer(QTcpSocket& socket) {
        const QByteArray head = socket.peek(64 * 1024);
        if (socket.property("answered").toBool() || !head.contains("\r\n\r\n"))
            return;
        socket.setProperty("answered", true);
        const QByteArray path = head.left(head.indexOf("\r\n")).split(' ').value(1);
        const QByteArray body = pages.value(path, "<html><body>not here</body></html>");
        socket.write("HTTP/1.1 " + QByteArray(pages.contains(path) ? "200 OK" : "404 Not Found") +
                     "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
                     "\r\nConnection: close\r\n\r\n" + body);
        socket.disconnectFromHost();
    }
    QString base() const { return u"http://127.0.0.1:%1"_s.arg(server.serverPort()); }
    // Download result, pending or not, first line read, news window.
    static QString seen() {
        const frmBrowse* browse = News::state.Browse;
        const QString window = !browse ? u"none"_s : browse->isVisible() ? u"shown"_s : u"hidden"_s;
        return u"%1|%2|%3|%4"_s.arg(News::state.NewsDownloadResult)
            .arg(News::state.NewsPending ? u"pending"_s : u"-"_s, News::state.NewsUrl, window);
    }

    QTemporaryDir dir;
    QTcpServer server;
    QHash<QByteArray, QByteArray> pages;
};

TEST_F(NewsTest, APageSlidesInStaysAndLeavesOnceAndDownloadsThatBringNoPageShowNothing) {
    pages["/browse/page.html"] = "<html><body><p>Norvale 4.3 is out</p></body></html>";
    const QString page = base() + "/browse/page.html";
    pages["/browse/news.txt"] = (page + "\nsecond line\n").toLatin1();
    ASSERT_TRUE(News::StartDownload());
    EXPECT_FALSE(News::StartDownload()); // one at a time
    ASSERT_TRUE(waitDownloaded());
    EXPECT_EQ(readBytes(News::state.NewsFilePath), pages["/browse/news.txt"]);
    tick(); // reads the file; the page opens one tick later
    EXPECT_EQ(seen(), "-100|pending|" + page + "|none");
    writeBytes(News::state.NewsFilePath, "http://127.0.0.1:1/other\r\n"); // read once: not read again
    tick();
    EXPECT_EQ(seen(), "-100|-|" + page + "|hidden"); // until the page has arrived
    ASSERT_FALSE(News::state.Browse.isNull());
    frmBrowse& browse = *News::state.Browse;
    tick();

    // Up at the right, about 400 twips above the bottom edge, then down below it and unloaded, once.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    int up = 0, unloaded = 0;
    QObject::connect(&browse, &frmBrowse::SlidUp, [&] {
        ++up;
        EXPECT_TRUE(browse.isVisible());
        EXPECT_EQ(browse.geometry().right(), screen.right());
        EXPECT_NEAR(screen.bottom() - browse.geometry().bottom(), Twips::ToPixelsY(400), 1);
        EXPECT_TRUE(browse.Browser->toPlainText().startsWith(u"Norvale 4.3 is out"_s));
    });
    QObject::connect(&browse, &frmBrowse::Unloaded, [&] {
        ++unloaded;
        EXPECT_GT(browse.geometry().top(), screen.bottom());
    });
    ASSERT_TRUE(waitFor([] { return News::state.Browse.isNull(); }));
    EXPECT_EQ(std::pair(up, unloaded), std::pair(1, 1));

    // An empty news file opens nothing; a 404 (nothing served) or a refused connection keeps the old file.
    const QByteArray old = "http://127.0.0.1:1/old\r\n";
    const std::tuple<const char*, qint32, QByteArray> downloads[] = {
        {"", News::Downloaded, ""},
        {nullptr, QNetworkReply::ContentNotFoundError, old},
        {"http://127.0.0.1:1/new\r\n", QNetworkReply::ConnectionRefusedError, old}};
    for (const auto& [served, result, fileAfter] : downloads) {
        SCOPED_TRACE(result);
        writeBytes(News::state.NewsFilePath, old);
        pages.remove("/browse/news.txt");
        if (served)
            pages["/browse/news.txt"] = served;
        if (result == QNetworkReply::ConnectionRefusedError)
            server.close();
        ASSERT_TRUE(News::StartDownload());
        ASSERT_TRUE(waitDownloaded());
        EXPECT_EQ(News::state.NewsDownloadResult, result);
        tick(3);
        const qint32 left = result == News::Downloaded ? News::AlreadyRead : result;
        EXPECT_EQ(seen(), u"%1|-|%2|none"_s.arg(left).arg(page));
        EXPECT_EQ(readBytes(News::state.NewsFilePath), fileAfter);
        EXPECT_FALSE(std::ranges::any_of(QApplication::topLevelWidgets(), &QWidget::isVisible));
    }
}

// The address comes from the network: a page that is not on the web is never shown.
TEST_F(NewsTest, ALocalPageIsNotShown) {
    writeBytes(dir.filePath(u"local.html"_s), "<html><body>local</body></html>");
    News::state.NewsUrl = QUrl::fromLocalFile(dir.filePath(u"local.html"_s)).toString();
    News::state.NewsPending = true;
    tick();
    ASSERT_FALSE(News::state.Browse.isNull());
    ASSERT_TRUE(waitFor([] { return !News::state.Browse || !News::state.Browse->Browser->Loading(); }));
    QCoreApplication::processEvents();
    ASSERT_FALSE(News::state.Browse.isNull()) << "shown and gone";
    EXPECT_FALSE(News::state.Browse->isVisible());
    EXPECT_TRUE(News::state.Browse->Browser->toPlainText().isEmpty());
}

} // namespace
