#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// What the system knows about a ppp interface: its address, its byte counters, and which pppd
// runs it. The roots are parameters so that tests can build the files in a temporary folder.
class PppLink final {
public:
    explicit PppLink(const QString& sysfsNetRoot = QStringLiteral("/sys/class/net"),
                     const QStringList& pidFileRoots = {QStringLiteral("/var/run"),
                                                        QStringLiteral("/var/run/pppd")});

    // Counters as the 32-bit registers the callers expect: they wrap past 2^31 into negatives. An
    // interface that went away with its line keeps the counters last read from it until pppd ends:
    // the call's traffic did not fall to zero.
    qint32 bytesReceived(const QString& interface) const;
    qint32 bytesSent(const QString& interface) const;
    // The interface's IPv4 address, empty when it has none (or does not exist).
    QString address(const QString& interface) const;
    // Every pppN interface that exists now.
    QStringList interfaces() const;
    // The interface that pppd process runs, from its pid files; empty when none names it.
    QString interfaceOf(pid_t pppdPid) const;

    static qint32 toRegister(quint64 value) { return static_cast<qint32>(static_cast<quint32>(value)); }

private:
    qint32 counter(const QString& interface, const char* name) const;

    QString m_sysfs;
    QStringList m_pidRoots;
    mutable QHash<QString, qint32> m_lastRead; // by the counter's file
};
