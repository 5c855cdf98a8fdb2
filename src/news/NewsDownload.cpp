#include "news/NewsDownload.h"

#include "news/NewsState.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>

NewsDownload::NewsDownload(QObject* parent) : QObject(parent) {
    manager_.setTransferTimeout(TransferTimeoutMs);
}

NewsDownload::~NewsDownload() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

bool NewsDownload::Start(const QUrl& url, const QString& target) {
    if (reply_)
        return false;
    writeFailed_ = false;
    file_ = std::make_unique<QSaveFile>(target);
    // The user's cache may have been emptied meanwhile.
    if (!target.isEmpty())
        QDir().mkpath(QFileInfo(target).absolutePath());
    // Opened now so that an unwritable target fails like a broken line, after the attempt.
    if (target.isEmpty() || !file_->open(QIODevice::WriteOnly))
        writeFailed_ = true;

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    reply_ = manager_.get(request);
    connect(reply_, &QNetworkReply::readyRead, this, &NewsDownload::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &NewsDownload::onFinished);
    return true;
}

void NewsDownload::onReadyRead() {
    if (reply_)
        store(reply_->readAll());
}

void NewsDownload::store(const QByteArray& chunk) {
    if (!writeFailed_ && file_->write(chunk) != chunk.size())
        writeFailed_ = true;
}

void NewsDownload::onFinished() {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();

    qint32 result = reply->error();
    if (result == QNetworkReply::NoError) {
        store(reply->readAll()); // whatever came with the end
        if (writeFailed_ || !file_->commit())
            result = News::WriteFailed;
    }
    if (result != News::Downloaded && file_)
        file_->cancelWriting();
    file_.reset();
    emit Finished(result);
}
