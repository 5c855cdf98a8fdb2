#pragma once

#include <QString>
#include <QUrl>

// The news notifier's steps, called by the main window. All state is in News::state.
namespace News {

// The news file's address on NewsServer.
QUrl NewsAddress();

// The work of tmrUrl: starts downloading the news file into NewsFilePath and returns at once;
// NewsDownloadResult is set when the download ends. False when a download is still running.
bool StartDownload();

// Asks the news window for the page, creating the window hidden when there is none; it shows
// itself once the page has arrived.
void OpenPage(const QString& address);

// Traffic-cycle step: opens a page address read earlier in the news window, created hidden when
// there is none.
void CycleOpenPage();

// Traffic-cycle step: reads the first line of a freshly downloaded news file, once.
void CycleReadFile();

} // namespace News
