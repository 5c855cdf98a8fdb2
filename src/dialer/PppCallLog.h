#pragma once

#include <QByteArray>
#include <QString>

// The lines of one call's pppd and chat as the guard's log shows them: each tagged with its
// program and the entry ("chat[Casa]: send (ATZ^M)"), control characters shown as "?", and the
// entry's password never shown, however pppd prints it.
class PppCallLog final {
public:
    PppCallLog() = default;
    PppCallLog(const QString& entry, const QString& password);

    // The line for the log; empty for a blank one. Lines are chat's from its first words until
    // pppd tells of the connect script's end: the two write to one log, and pppd waits for chat.
    QString tag(const QByteArray& line);

private:
    QString m_entry;
    QString m_password;
    bool m_chatRuns = false;
};
