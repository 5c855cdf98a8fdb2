#include "LocalHttpServer.h"

#include <QTcpSocket>

LocalHttpServer::LocalHttpServer() {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, &LocalHttpServer::onConnection);
}

void LocalHttpServer::Serve(const QByteArray& path, const QByteArray& contentType, const QByteArray& body) {
    pages_.insert(path, {contentType, body});
}

QString LocalHttpServer::Base() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(Port());
}

void LocalHttpServer::onConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket->property("answered").toBool())
                return;
            const QByteArray head = socket->peek(64 * 1024);
            if (!head.contains("\r\n\r\n"))
                return;
            socket->setProperty("answered", true);
            const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
            const QByteArray path = request.size() >= 2 ? request[1] : QByteArray();
            ++requests_[path];
            QByteArray answer;
            if (const auto page = pages_.constFind(path); page != pages_.constEnd()) {
                answer = "HTTP/1.1 200 OK\r\nContent-Type: " + page->contentType +
                         "\r\nContent-Length: " + QByteArray::number(page->body.size()) +
                         "\r\nConnection: close\r\n\r\n" + page->body;
            } else {
                const QByteArray body = "<html><body>not here</body></html>";
                answer = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
            }
            socket->write(answer);
            socket->disconnectFromHost();
        });
    }
}
