#pragma once

#include <QList>
#include <QString>

// Follows one call placed through pppd with a chat connect script: chat's (-s -v) and pppd's
// lines in the order they arrive, then pppd's exit, turned into connection states, the
// connection itself and the error a user should see.
class PppLineParser final {
public:
    struct Event {
        enum class Kind { State, Connect, Disconnect, Error };
        Kind kind;
        int value = 0; // state number or error code
        QString text;  // error text
        bool operator==(const Event&) const = default;
    };

    // dialCommand is the entry's "Dial Command": its send line marks the start of dialling.
    explicit PppLineParser(const QString& dialCommand = QStringLiteral("ATD"));

    // Status 0 for the port being opened; once per call.
    QList<Event> started();
    QList<Event> feed(const QString& line);
    // pppd has ended; hungUp when our own hang-up ended it (no error then).
    QList<Event> finished(int exitCode, bool crashed, bool hungUp);

    int state() const { return m_state; }
    bool connected() const { return m_connected; }
    QString interfaceName() const { return m_interface; }
    QString localAddress() const { return m_localAddress; }

    // The text a user sees for an error code; empty for codes this component never raises.
    static QString errorText(int code);
    // The error for the ABORT string chat matched.
    static int errorForAbort(const QString& abortString);

private:
    QList<Event> advance(int state);
    Event error(int code) const;

    QString m_dialCommand;
    int m_state = -1;
    bool m_connected = false;
    bool m_expectConnect = false;
    bool m_timedOut = false;
    int m_failure = 0; // error seen in the lines before pppd ended
    QString m_interface;
    QString m_localAddress;
};
