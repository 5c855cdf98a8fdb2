#include "news/NewsBrowser.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>

namespace {

bool isWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

// The charset named by a Content-Type header, empty when it names none.
QByteArray charsetOf(const QByteArray& contentType) {
    for (const QByteArray& part : contentType.split(';')) {
        const QByteArray trimmed = part.trimmed();
        if (trimmed.toLower().startsWith("charset="))
            return trimmed.mid(8).trimmed().replace('"', "");
    }
    return {};
}

} // namespace

NewsBrowser::NewsBrowser(QWidget* parent) : QTextBrowser(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setOpenLinks(false);
    manager_.setTransferTimeout(TransferTimeoutMs);
}

NewsBrowser::~NewsBrowser() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

void NewsBrowser::Navigate(const QString& address) {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
        reply_ = nullptr;
    }
    const QUrl url = QUrl::fromUserInput(address.trimmed());
    if (!isWebAddress(url))
        return;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    reply_ = manager_.get(request);
    connect(reply_, &QNetworkReply::finished, this, &NewsBrowser::onFinished);
}

QVariant NewsBrowser::loadResource(int, const QUrl&) {
    return {};
}

void NewsBrowser::onFinished() {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        return;

    const QUrl url = reply->url();
    const QByteArray body = reply->readAll();
    const QByteArray contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    const bool html = contentType.isEmpty() ? Qt::mightBeRichText(QString::fromLatin1(body.left(1024)))
                                            : contentType.toLower().contains("html");

    std::optional<QStringConverter::Encoding> encoding;
    if (const QByteArray charset = charsetOf(contentType); !charset.isEmpty())
        encoding = QStringConverter::encodingForName(charset.constData());
    if (!encoding && html)
        encoding = QStringConverter::encodingForHtml(body);
    QStringDecoder decode(encoding.value_or(QStringConverter::Utf8));
    const QString text = decode(body);

    document()->setBaseUrl(url);
    if (html)
        setHtml(text);
    else
        setPlainText(text);
    emit NavigateComplete2(url);
}
