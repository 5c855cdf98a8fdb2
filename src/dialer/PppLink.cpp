#include "dialer/PppLink.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace {

QList<QByteArray> fileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(4096).split('\n');
}

} // namespace

PppLink::PppLink(const QString& sysfsNetRoot, const QStringList& pidFileRoots)
    : m_sysfs(sysfsNetRoot), m_pidRoots(pidFileRoots) {}

qint32 PppLink::counter(const QString& interface, const char* name) const {
    if (interface.isEmpty() || interface.contains(QLatin1Char('/')))
        return 0;
    const QString path =
        m_sysfs + QLatin1Char('/') + interface + QStringLiteral("/statistics/") + QLatin1String(name);
    bool ok = false;
    const quint64 value = fileLines(path).value(0).trimmed().toULongLong(&ok);
    if (!ok)
        return m_lastRead.value(path, 0);
    return *m_lastRead.insert(path, toRegister(value));
}

qint32 PppLink::bytesReceived(const QString& interface) const {
    return counter(interface, "rx_bytes");
}

qint32 PppLink::bytesSent(const QString& interface) const {
    return counter(interface, "tx_bytes");
}

QString PppLink::address(const QString& interface) const {
    if (interface.isEmpty())
        return {};
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    QString found;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || interface != QLatin1String(a->ifa_name))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            found = QString::fromLatin1(text);
        break;
    }
    ::freeifaddrs(list);
    return found;
}

QStringList PppLink::interfaces() const {
    return QDir(m_sysfs).entryList({QStringLiteral("ppp*")},
                                   QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

QString PppLink::interfaceOf(pid_t pppdPid) const {
    // pppN.pid holds the pid; ppp-LINKNAME.pid holds the pid and, usually, the interface.
    for (const QString& root : m_pidRoots) {
        const QStringList files = QDir(root).entryList({QStringLiteral("ppp*.pid")}, QDir::Files);
        for (const QString& file : files) {
            const QList<QByteArray> lines = fileLines(root + QLatin1Char('/') + file);
            if (lines.value(0).trimmed().toInt() != pppdPid)
                continue;
            const QByteArray second = lines.value(1).trimmed();
            if (!second.isEmpty())
                return QString::fromLatin1(second);
            if (!file.startsWith(QLatin1String("ppp-")))
                return file.chopped(4);
        }
    }
    return {};
}
