#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QUrl>

// The news window's web browser: a text browser that fetches its pages over HTTP itself and
// shows them without scroll bars.
class NewsBrowser final : public QTextBrowser {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NewsBrowser)

public:
    explicit NewsBrowser(QWidget* parent = nullptr);
    ~NewsBrowser() override;

    // Loads the page at address, dropping any page still on its way. Only http and https pages
    // are fetched: an address from the network must not open local files. Addresses without a
    // scheme are taken as web addresses, as a browser's address bar does.
    void Navigate(const QString& address);
    // A page is on its way.
    bool Loading() const { return reply_ != nullptr; }

    static constexpr int TransferTimeoutMs = 30000;

signals:
    // A page has arrived and is shown. A page that fails to arrive raises nothing.
    void NavigateComplete2(const QUrl& url);

protected:
    // Pictures and style sheets of a page are not fetched.
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void onFinished();

    QNetworkAccessManager manager_;
    QPointer<QNetworkReply> reply_;
};
