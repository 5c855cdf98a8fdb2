#include "platform/dialer/CreateDialer.h"

#include "platform/dialer/DialerSettings.h"
#include "platform/dialer/PppDialer.h"
#include "platform/dialer/SimulatedDialer.h"

std::unique_ptr<DialerControl> CreateDialer(const QString& appFolder, QObject* parent) {
    const DialerSettings settings = DialerSettings::read(appFolder);
    if (settings.backend == DialerSettings::Backend::Ppp)
        return std::make_unique<PppDialer>(settings, parent);
    return std::make_unique<SimulatedDialer>(settings, appFolder, parent);
}
