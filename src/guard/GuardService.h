#pragma once

#include "guard/Authority.h"
#include "guard/GuardFiles.h"
#include "guard/LogLimit.h"
#include "guard/ServiceNotifier.h"
#include "guard/StripPlaces.h"
#include "platform/SystemHelpers.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPointF>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class DialerControl;
class GuardServer;

// The guard: owns the dial-up component, the connection table, nv4.ini and the locks, and makes
// every defence decision, whether or not a display is connected. The displays get the component's
// events after those decisions and ask for everything else through the socket.
class GuardService final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardService)

public:
    // Before the path of a program the kernel refused the modem.
    static QString BlockedText() { return QStringLiteral("Chiamata bloccata: "); }

    struct Options {
        QString programFolder;
        // Lock records of files whose file system keeps no extended attributes; empty: the default.
        QString recordFolder;
        // Ends the program after the shut-down with this status; none: leave the event loop.
        std::function<void(int status)> endProgram;
    };

    static constexpr int PhonebookLockDelayMs = 2000;
    // Requests of one display that wait behind an administrator's question.
    static constexpr size_t MaxWaiting = 16;

    GuardService(std::unique_ptr<DialerControl> dialer, GuardServer& server, const Authority& authority,
                 Options options, QObject* parent = nullptr);
    ~GuardService() override;

    // The start-up steps that need no window; the caller listens afterwards. systemd hears that
    // the guard is ready once nv4.ini is locked, not after the phonebook's later lock.
    void Start();
    // The shut-down: the phonebook released, the settings saved, the settings file released.
    // Runs once; the line is left as it is.
    void Shutdown();
    DialerControl& rasDial() { return *rasDial_; }

public slots:
    void tmrLock_Timer();
    void rasDial_Status(int state);
    void rasDial_Connect();
    void rasDial_Disconnect();
    void rasDial_Blocked(const QString& program, bool duringOwnCall);
    void rasDial_LastError(int errorCode, const QString& errorString, int response);
    void rasDial_CallEnded();

private:
    // A request as it came: who asked, and the id its answer carries.
    struct Asked {
        quint64 client = 0;
        QJsonValue id;
        Authority::Peer peer;
        QString op;
        QJsonObject request;
    };
    // The setup's and the stop's requests of one display, in the order sent: the first waits for
    // polkit, the others behind it.
    struct Queue {
        std::deque<Asked> waiting;
        bool asking = false;
        quint64 question = 0;
        uid_t uid = 0;
        Authority::Cancel cancel;
    };

    void onRequest(quint64 client, const Authority::Peer& peer, const QJsonObject& request);
    void onClientGone(quint64 client);
    void answer(const Asked& asked, QJsonObject reply);
    void fail(const Asked& asked, QLatin1StringView error, const QString& message);
    void serveQueue(quint64 client);
    void askPolkit(Asked asked);
    void answered(const Asked& asked, const Authority::Answer& verdict);
    void administratorRequest(const Asked& asked, const Authority::Answer& verdict);
    void setupRequest(const Asked& asked);
    void setField(const Asked& asked, const QString& name, qint16 field, const QJsonValue& value);

    QJsonObject snapshot() const;
    QJsonObject counters() const;
    QJsonObject dialDefault();
    qint16 dialSelected(const QString& entry);
    void dialEntry(const Asked& asked);
    void endDialling(QJsonObject outcome);
    void hangUp();
    void position(const Asked& asked);
    void writePlace(QPointF place);
    QJsonObject openSetup();
    QJsonObject readEntry(const QString& name);
    void saveSettings();
    void stop(const Asked& asked);

    void unlockPhonebook() { files_.UnlockPhonebook(); }
    void lockPhonebook() { files_.LockPhonebook(); }
    void dropDefaultsRows();
    void revokeChangedNumbers();
    static void log(LogLimit::Priority priority, const QString& line);
    static QString who(const Asked& asked) { return LogLimit::Who(asked.peer.uid, asked.peer.pid); }

    std::unique_ptr<DialerControl> rasDial_;
    GuardServer& server_;
    const Authority& authority_;
    Options options_;
    QTimer tmrLock_;
    bool shutDown_ = false;
    quint64 setupOwner_ = 0;
    std::map<quint64, Queue> queues_;
    // The dial_entry that waits for its call's outcome: one at a time, as the line takes one call.
    struct Dialling {
        Asked asked;
        QString entry;
        QString refusal; // why the guard hung the call up
    };
    std::optional<Dialling> dialling_;
    LogLimit userLog_;
    quint64 questions_ = 0;
    QString connectedEntry_;
    double topWin_ = 10;
    double leftWin_ = 100;
    StripPlaces places_;
    GuardFiles files_;
    ServiceNotifier notifier_;
};
