// Runs the whole news chain against a local server with the program's own timings, for a look
// on a real display: news_demo [seconds on screen]
#include "LocalHttpServer.h"

#include "news/News.h"
#include "news/NewsState.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir dir;
    LocalHttpServer server;
    server.Serve("/browse/page.html", "text/html; charset=utf-8",
                 "<html><body bgcolor=\"#00c000\"><h2>Norvale news</h2><p>A page from the news "
                 "server, shown for a while at the bottom right.</p></body></html>");
    server.Serve("/browse/news.txt", "text/plain", (server.Base() + "/browse/page.html\r\n").toLatin1());

    News::state.NewsServer = server.Base();
    News::state.NewsFilePath = dir.filePath(QStringLiteral("data.tmp"));
    if (argc > 1)
        News::state.DownMs = QByteArray(argv[1]).toInt() * 1000;

    QTextStream out(stdout);
    QTimer cycle;
    bool opened = false;
    QObject::connect(&cycle, &QTimer::timeout, [&] {
        News::CycleOpenPage();
        News::CycleReadFile();
        if (News::state.Browse && !opened) {
            opened = true;
            QObject::connect(News::state.Browse, &frmBrowse::SlidUp, [&] {
                const frmBrowse& browse = *News::state.Browse;
                out << "up " << browse.x() << ' ' << browse.y() << ' ' << browse.width() << ' '
                    << browse.height() << " window 0x" << Qt::hex << browse.windowHandle()->winId() << Qt::dec
                    << Qt::endl;
            });
            QObject::connect(News::state.Browse, &frmBrowse::Unloaded,
                             [&] { out << "unloaded" << Qt::endl; });
        }
        if (opened && !News::state.Browse)
            QCoreApplication::quit();
    });
    cycle.start(500);
    News::StartDownload();
    return QApplication::exec();
}
