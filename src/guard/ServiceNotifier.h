#pragma once

#include <QObject>
#include <QTimer>

// Tells systemd where the guard stands, when systemd asks to be told (NOTIFY_SOCKET): ready to
// serve, stopping, and alive. The watchdog's pings come from the event loop's own timer, so that a
// guard whose loop hangs misses them and is restarted. Without a notify socket it does nothing.
class ServiceNotifier final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServiceNotifier)

public:
    explicit ServiceNotifier(QObject* parent = nullptr);

    // Pings three times in each period the watchdog allows, from now on.
    void Ready();
    void Stopping();

private:
    void tell(const char* state);

    QTimer watchdog_;
    bool warned_ = false;
};
