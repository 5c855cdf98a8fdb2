#include "news/SetNewsWindowStyle.h"

#include "platform/WindowHelpers.h"

namespace Subs {

bool SetNewsWindowStyle(QWidget& window) {
    return ChangeWindowFlags(window, Qt::WindowTransparentForInput | Qt::WindowStaysOnTopHint, {});
}

} // namespace Subs
