#include "news/NewsState.h"

namespace News {

void Reset() {
    delete state.Download.data();
    delete state.Browse.data();
    state = State{};
}

} // namespace News
