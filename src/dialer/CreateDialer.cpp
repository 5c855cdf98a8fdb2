#include "dialer/CreateDialer.h"

#include "dialer/DialerSettings.h"
#include "dialer/PppDialer.h"
#include "dialer/SimulatedDialer.h"
#include "modem/ModemFence.h"

std::unique_ptr<DialerControl> CreateDialer(const QString& appFolder, const QString& runFolder,
                                            QObject* parent) {
    DialerSettings settings = DialerSettings::read(appFolder);
    settings.runFolder = runFolder;
    if (settings.backend == DialerSettings::Backend::Ppp)
        return std::make_unique<PppDialer>(settings, parent,
                                           new ModemFence(runFolder, settings.fence));
    return std::make_unique<SimulatedDialer>(settings, appFolder, parent);
}
