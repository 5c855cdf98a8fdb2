#pragma once

#include <QString>

namespace Global {

// Shows the text in the info strip at the font size (points). The first call opens the strip
// centred on the screen and on top, for three seconds; a call while it is open only replaces the
// text and the size.
void ShowInfo(const QString& text, float size);

} // namespace Global
