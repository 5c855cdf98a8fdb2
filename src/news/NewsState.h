#pragma once

#include "news/NewsDownload.h"
#include "news/frmBrowse.h"

#include <QPointer>
#include <QString>
#include <QtGlobal>

// Program-wide state of the news notifier: the downloaded news file, the page address read from
// it, and the window that shows the page.
namespace News {

// NewsDownloadResult values with a meaning of their own; any other non-zero value is a failed
// download (a QNetworkReply::NetworkError, or WriteFailed).
inline constexpr qint32 Downloaded = 0;     // the file arrived and waits to be read
inline constexpr qint32 NothingYet = -10;   // no download has ended yet
inline constexpr qint32 AlreadyRead = -100; // the file has been read
inline constexpr qint32 WriteFailed = -1;   // the answer arrived but the file could not be stored

inline constexpr char DefaultServer[] = "http://www.norvale.example";
inline constexpr char NewsPath[] = "/browse/news.txt";
inline constexpr char NewsFileName[] = "data.tmp";

struct State {
    QString NewsFilePath; // "data.tmp" in the user's cache, set at start-up
    qint32 NewsDownloadResult = NothingYet;
    QString NewsUrl;          // first line of the news file
    bool NewsPending = false; // NewsUrl read and not opened yet

    // Where the news file comes from; tests point it at a local server.
    QString NewsServer = QString::fromLatin1(DefaultServer);

    // The news window's timings in milliseconds; tests shorten them.
    int SlideStepMs = 5;
    int SleepMs = 1000;
    int DownMs = 20000;

    // Created hidden by the first page to open; gone once it has been unloaded.
    QPointer<frmBrowse> Browse;
    // Created by the first download; belongs to the application object.
    QPointer<NewsDownload> Download;
};

inline State state;

// Back to the values of a fresh start: any download is dropped and any news window destroyed.
void Reset();

} // namespace News
