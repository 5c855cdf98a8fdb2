#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray ShowRequest = "show\n";

// ":0", "localhost:10.0": anything but a plain name character is left out of a file name.
// ":0.1" and "unix:0" are the same display as ":0": the screen and the local host go.
QString keyOf(QString display) {
    if (const qsizetype colon = display.lastIndexOf(u':'); colon >= 0) {
        if (const qsizetype dot = display.indexOf(u'.', colon); dot >= 0)
            display.truncate(dot);
        if (display.startsWith(u"unix:"))
            display.remove(0, 4);
    }
    QString key;
    for (const QChar c : display)
        key += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'.' || c == u'-' ? c : QChar(u'_');
    return key;
}

} // namespace

SingleInstance::SingleInstance(const QString& runtimeFolder, const QString& display, QObject* parent)
    : QObject(parent) {
    const QString stem = QDir(runtimeFolder).filePath(QStringLiteral("norvale-display") + keyOf(display));
    lockPath_ = stem + QStringLiteral(".lock");
    socketPath_ = stem + QStringLiteral(".sock");
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() {
    server_.close();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool SingleInstance::Claim() {
    // Qt gives no runtime folder when the fallback one belongs to another user: a lock beside the
    // working folder could then be that user's, who would keep every start from running.
    if (!QDir::isAbsolutePath(lockPath_)) {
        std::fputs("norvale: no private runtime folder: a second start is not detected\n", stderr);
        return true;
    }
    lockFd_ =
        ::open(QFile::encodeName(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
        // Without the lock two copies may run; that is better than none.
        std::fprintf(stderr, "norvale: cannot open %s (%s): a second start is not detected\n",
                     qPrintable(lockPath_), std::strerror(errno));
        return true;
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        QLocalServer::removeServer(socketPath_);
        if (!server_.listen(socketPath_))
            std::fprintf(stderr, "norvale: cannot listen on %s: %s\n", qPrintable(socketPath_),
                         qPrintable(server_.errorString()));
        return true;
    }
    ::close(lockFd_);
    lockFd_ = -1;
    // The running one may still be starting: its socket comes just after its lock.
    for (int attempt = 0; attempt < 30; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(200)) {
            socket.write(ShowRequest);
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return false;
        }
        QThread::msleep(100);
    }
    std::fprintf(stderr, "norvale: another copy holds %s but does not answer\n", qPrintable(lockPath_));
    return false;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Anything else from the user's own socket is passed over.
            if (socket->bytesAvailable() > 64)
                return socket->abort();
            if (socket->canReadLine() && socket->readLine() == ShowRequest)
                emit ShowRequested();
        });
    }
}
