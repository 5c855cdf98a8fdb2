#include "tray/TrayState.h"

#include "tray/frmInfo.h"

#include <QApplication>
#include <QDesktopServices>

namespace Tray {

void SystemBeep() {
    QApplication::beep();
}

bool OpenWithDesktop(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

void Reset() {
    delete state.Info.data();
    state = State{};
}

} // namespace Tray
