#include "settings/Global.h"

namespace Global {

void Reset() {
    // Locks first, while their guard still exists.
    state.PhonebookLockFile.release();
    state.SettingsLockFile.release();
    state = State{};
}

} // namespace Global
