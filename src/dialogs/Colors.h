#pragma once

#include <QtGlobal>

// Program-wide values of the colour picker.
namespace Colors {

// What the picker answers when the user cancels.
inline constexpr qint32 Cancelled = -9999;
// The palette picture, in the program's folder.
inline constexpr char PaletteFile[] = "palette.png";

struct State {
    // The colour carried into the picker and out of it; Cancelled when the user cancelled.
    qint32 ChosenColour = 0;
};

inline State state;

// Back to the values of a fresh start.
void Reset();

} // namespace Colors
