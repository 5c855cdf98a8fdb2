#pragma once

#include <QString>

class GuardClient;

// What the tray menu asks of the main window.
class MainWindow {
public:
    virtual ~MainWindow() = default;

    // The strip back from the tray, at its place and on top.
    virtual void Restore() = 0;
    virtual GuardClient& Guard() = 0;
    virtual void ShowStatus(const QString& text) = 0;
    virtual void RepaintMain() = 0;
    // The cue of that name in the program's folder.
    virtual void PlayCue(const QString& fileName) = 0;
    virtual void rasDial_LastError(int errorCode, const QString& errorString, int response) = 0;
    // The guard refused what the user asked for.
    virtual void ShowRefusal(const QString& text) = 0;
    // The guard is away.
    virtual void ShowAway() = 0;
};
