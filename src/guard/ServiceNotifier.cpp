#include "guard/ServiceNotifier.h"

#include "guard/GuardLog.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

ServiceNotifier::ServiceNotifier(QObject* parent) : QObject(parent) {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    watchdog_.setInterval(std::max(std::chrono::milliseconds(1), std::chrono::milliseconds(usec / 3000)));
    connect(&watchdog_, &QTimer::timeout, this, [this] { tell("WATCHDOG=1"); });
}

void ServiceNotifier::Ready() {
    tell("READY=1");
    if (watchdog_.interval() > 0)
        watchdog_.start();
}

void ServiceNotifier::Stopping() {
    tell("STOPPING=1");
}

void ServiceNotifier::tell(const char* state) {
    const int result = sd_notify(0, state);
    // Once: a socket that is gone would otherwise fill the log with the watchdog's pings.
    if (result < 0 && !warned_) {
        warned_ = true;
        GuardLog::Warning(QStringLiteral("cannot tell systemd %1: %2")
                              .arg(QLatin1String(state), QString::fromLocal8Bit(std::strerror(-result))));
    }
}
