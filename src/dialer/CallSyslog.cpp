#include "dialer/CallSyslog.h"

#include <QFile>
#include <QSocketNotifier>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// syslog(3) sends a line of at most a few KiB; what is longer is cut by the kernel here.
constexpr size_t MaxDatagram = 8192;

} // namespace

CallSyslog::CallSyslog(const QString& path, QObject* parent) : QObject(parent) {
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    ::chmod(name.constData(), 0600);
    m_path = path;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CallSyslog::drain);
}

CallSyslog::~CallSyslog() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void CallSyslog::drain() {
    char buffer[MaxDatagram];
    ssize_t n;
    while (m_fd >= 0 && (n = ::recv(m_fd, buffer, sizeof buffer, 0)) >= 0)
        emit datagram(QByteArray(buffer, n));
}
