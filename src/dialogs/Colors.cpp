#include "dialogs/Colors.h"

namespace Colors {

void Reset() {
    state = State{};
}

} // namespace Colors
