#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSaveFile>
#include <QString>
#include <QUrl>

#include <memory>

// Fetches one file over HTTP into a local file without holding up the user interface. The local
// file is replaced only when the whole answer has arrived, so a failed attempt keeps the old one.
class NewsDownload final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NewsDownload)

public:
    explicit NewsDownload(QObject* parent = nullptr);
    ~NewsDownload() override;

    // Starts fetching url into target; false, and nothing started, while a download is running.
    bool Start(const QUrl& url, const QString& target);
    bool Running() const { return reply_ != nullptr; }

    // A server that stops answering ends the attempt after this long.
    static constexpr int TransferTimeoutMs = 30000;

signals:
    // 0 when the file is stored; otherwise the network error, or -1 when the file could not be
    // written.
    void Finished(qint32 result);

private:
    void onReadyRead();
    void onFinished();
    void store(const QByteArray& chunk);

    QNetworkAccessManager manager_;
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QSaveFile> file_;
    bool writeFailed_ = false;
};
