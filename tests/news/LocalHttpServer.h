#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>

// A tiny HTTP server on 127.0.0.1 for the news tests: answers GET requests for the paths it was
// given, 404 for every other path, and closes each connection after its answer.
class LocalHttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalHttpServer)

public:
    LocalHttpServer();

    void Serve(const QByteArray& path, const QByteArray& contentType, const QByteArray& body);
    // "http://127.0.0.1:<port>"
    QString Base() const;
    quint16 Port() const { return server_.serverPort(); }
    int Requests(const QByteArray& path) const { return requests_.value(path); }
    void Close() { server_.close(); }

private:
    void onConnection();

    struct Page {
        QByteArray contentType;
        QByteArray body;
    };
    QTcpServer server_;
    QHash<QByteArray, Page> pages_;
    QHash<QByteArray, int> requests_;
};
