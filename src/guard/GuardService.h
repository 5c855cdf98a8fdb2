#pragma once

#include "guard/Authority.h"
#include "guard/GuardFiles.h"
#include "guard/StripPlaces.h"
#include "platform/SystemHelpers.h"

#include <QJsonObject>
#include <QObject>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <memory>

class DialerControl;
class GuardServer;

// The guard: owns the dial-up component, the connection table, nv4.ini and the locks, and makes
// every defence decision, whether or not a display is connected. The displays get the component's
// events after those decisions and ask for everything else through the socket.
class GuardService final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardService)

public:
    struct Options {
        QString programFolder;
        // Lock records of files whose file system keeps no extended attributes; empty: the default.
        QString recordFolder;
        // Ends the program after the shut-down with this status; none: leave the event loop.
        std::function<void(int status)> endProgram;
    };

    static constexpr int PhonebookLockDelayMs = 2000;

    GuardService(std::unique_ptr<DialerControl> dialer, GuardServer& server, const Authority& authority,
                 Options options, QObject* parent = nullptr);
    ~GuardService() override;

    // The start-up steps that need no window; the caller listens afterwards.
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
    void rasDial_LastError(int errorCode, const QString& errorString, int response);

private:
    void onRequest(quint64 client, const Authority::Peer& peer, const QJsonObject& request);
    void onClientGone(quint64 client);
    void answer(quint64 client, QJsonObject reply);
    void fail(quint64 client, QLatin1StringView error, const QString& message);
    void administratorRequest(quint64 client, const Authority::Peer& peer, const QString& op);
    void setupRequest(quint64 client, const Authority::Peer& peer, const QString& op, const QJsonObject& request);

    QJsonObject snapshot() const;
    QJsonObject counters() const;
    QJsonObject dialDefault();
    void hangUp();
    void position(quint64 client, uid_t uid, const QJsonObject& request);
    void writePlace(QPointF place);
    QJsonObject openSetup();
    QJsonObject readEntry(const QString& name);
    void saveSettings();
    void stop();

    void unlockPhonebook() { files_.UnlockPhonebook(); }
    void lockPhonebook() { files_.LockPhonebook(); }
    void revokeChangedNumbers();
    void log(const QString& line) const;

    std::unique_ptr<DialerControl> rasDial_;
    GuardServer& server_;
    const Authority& authority_;
    Options options_;
    QTimer tmrLock_;
    bool shutDown_ = false;
    quint64 setupOwner_ = 0;
    QString connectedEntry_;
    double topWin_ = 10;
    double leftWin_ = 100;
    StripPlaces places_;
    GuardFiles files_;
};
