#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The lines of one call's processes as the guard's log shows them: each tagged with its program and
// the entry ("chat[Casa]: send (ATZ^M)"), control characters shown as "?", and the entry's password
// never shown, however pppd prints it.
class PppCallLog final {
public:
    // What a syslog datagram of the call's brings to the log.
    struct Syslog {
        int severity = 6; // syslog's: 0 emergency .. 7 debug
        QStringList lines;
    };

    PppCallLog() = default;
    PppCallLog(const QString& entry, const QString& password);

    // A line of pppd's log, which chat's output shares; empty for a blank one. Lines are chat's from
    // its first words until pppd tells of the connect script's end, since pppd waits for chat.
    QString tag(const QByteArray& line);
    // A datagram sent to syslog in pppd's mount namespace ("<30>Dec  7 16:35:06 ip-up[12]: text"):
    // the scripts' lines. pppd's and chat's own are copies of their log's, and bring nothing.
    Syslog fromSyslog(const QByteArray& datagram) const;

private:
    QString tagged(const QString& program, QString line) const;

    QString m_entry;
    QString m_password;
    bool m_chatRuns = false;
};
