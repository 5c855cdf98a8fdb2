#include "dialer/CreateDialer.h"

#include "dialer/DialerSettings.h"
#include "dialer/PppDialer.h"
#include "dialer/SimulatedDialer.h"
#include "modem/ModemFence.h"

std::unique_ptr<DialerControl> CreateDialer(const InstallFolders& folders, QObject* parent) {
    DialerSettings settings = DialerSettings::read(folders);
    settings.runFolder = folders.privateRun();
    if (settings.backend == DialerSettings::Backend::Ppp)
        return std::make_unique<PppDialer>(settings, parent, new ModemFence(settings.runFolder, settings.fence));
    return std::make_unique<SimulatedDialer>(settings, folders.run, parent);
}
