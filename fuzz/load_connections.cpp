// The connection table loaded from a settings file whose content is the input.
#include "FuzzCheck.h"
#include "FuzzFolder.h"
#include "settings/Global.h"
#include "settings/SettingsFile.h"

namespace {
FuzzFolder folder;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Global::state.SettingsFile = folder.place(QStringLiteral("nv4.ini"), data, size);
    Global::state.DefaultEntryName.clear();
    Global::LoadConnections();
    FUZZ_CHECK(Global::state.ConnectionCount >= 0 && Global::state.ConnectionCount <= Global::TableSlots);
    return 0;
}
