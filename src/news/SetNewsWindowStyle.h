#pragma once

class QWidget;

namespace Subs {

// Lets clicks through the window to whatever lies below it and keeps it above other windows;
// true when the window took it.
bool SetNewsWindowStyle(QWidget& window);

} // namespace Subs
