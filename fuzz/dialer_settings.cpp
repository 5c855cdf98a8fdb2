// The dial-up component's dialer.conf, read from a folder where it is the only file.
#include "FuzzCheck.h"
#include "FuzzFolder.h"
#include "dialer/DialerSettings.h"

namespace {
FuzzFolder folder;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    folder.place(QStringLiteral("dialer.conf"), data, size);
    const DialerSettings settings = DialerSettings::read(folder.path());
    FUZZ_CHECK(settings.stageMs >= 0 && settings.stageMs <= 600000);
    FUZZ_CHECK(settings.downBps >= 0 && settings.upBps >= 0);
    FUZZ_CHECK(!settings.pppd.isEmpty() && !settings.chat.isEmpty());
    return 0;
}
