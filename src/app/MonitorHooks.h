#pragma once

#include <QString>

#include <functional>

// Where the main window hands work to parts of the program that live elsewhere: sound, the info
// strip and the tray menu. An empty hook does nothing.
struct MonitorHooks {
    // Stops any sound and plays the file.
    std::function<void(const QString& path)> PlaySound;
    // Ends the sound when it has played to its end; run on every cycle tick.
    std::function<void()> CheckSoundEnd;
    // Shows the text in the info strip at the font size.
    std::function<void(const QString& text, float size)> ShowInfo;
    // Opens the tray menu centred on x at y (twips).
    std::function<void(float x, float y)> PopupTrayMenu;
};
