#pragma once

#include <QPointer>
#include <QUrl>

#include <functional>

class frmInfo;

// Program-wide state of the tray menu and the info strip.
namespace Tray {

// The desktop's own services.
void SystemBeep();
bool OpenWithDesktop(const QUrl& url);

struct State {
    // The info strip while it is open; at most one at a time.
    QPointer<frmInfo> Info;
    // How long the strip stays after it first opened.
    int InfoLifeMs = 3000;
    // The system beep and the hand-over of a file to the desktop; tests put their own in.
    std::function<void()> Beep = SystemBeep;
    std::function<bool(const QUrl& url)> OpenUrl = OpenWithDesktop;
};

inline State state;

// Back to the values of a fresh start; an open strip goes at once.
void Reset();

} // namespace Tray
