#include "news/News.h"

#include "news/NewsState.h"
#include "settings/Cp1252.h"

#include <QCoreApplication>
#include <QFile>

namespace News {

QUrl NewsAddress() {
    return QUrl(state.NewsServer).resolved(QUrl(QString::fromLatin1(NewsPath)));
}

bool StartDownload() {
    if (!state.Download) {
        state.Download = new NewsDownload(QCoreApplication::instance());
        QObject::connect(state.Download, &NewsDownload::Finished, state.Download,
                         [](qint32 result) { state.NewsDownloadResult = result; });
    }
    return state.Download->Start(NewsAddress(), state.NewsFilePath);
}

void OpenPage(const QString& address) {
    if (!state.Browse)
        state.Browse = new frmBrowse;
    state.Browse->Navigate(address);
}

void CycleOpenPage() {
    if (!state.NewsPending)
        return;
    OpenPage(state.NewsUrl);
    state.NewsPending = false;
}

void CycleReadFile() {
    if (state.NewsDownloadResult != Downloaded)
        return;
    // A file gone since the download counts as empty.
    QFile file(state.NewsFilePath);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = file.readAll();
        if (!text.isEmpty()) {
            qsizetype end = 0;
            while (end < text.size() && text[end] != '\r' && text[end] != '\n')
                ++end;
            state.NewsUrl = Cp1252::ToUnicode(QByteArrayView(text).first(end));
            state.NewsPending = true;
        }
    }
    state.NewsDownloadResult = AlreadyRead;
}

} // namespace News
