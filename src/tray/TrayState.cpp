#include "tray/TrayState.h"

#include "platform/SystemHelpers.h"
#include "tray/frmInfo.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>

#include <pwd.h>

namespace Tray {

void SystemBeep() {
    QApplication::beep();
}

bool OpenWithDesktop(const QUrl& url) {
    if (!Global::StartedForDesktopUser())
        return QDesktopServices::openUrl(url);
    // Never a browser as root: the page opens as the user at the desktop.
    const passwd* user = getpwuid(Global::DesktopUser());
    if (!user)
        return false;
    QProcess opener;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), QString::fromLocal8Bit(user->pw_dir));
    environment.insert(QStringLiteral("USER"), QString::fromLocal8Bit(user->pw_name));
    environment.insert(QStringLiteral("LOGNAME"), QString::fromLocal8Bit(user->pw_name));
    opener.setProcessEnvironment(environment);
    opener.setProgram(QStringLiteral("runuser"));
    opener.setArguments({QStringLiteral("-u"), QString::fromLocal8Bit(user->pw_name), QStringLiteral("--"),
                         QStringLiteral("xdg-open"), url.toString(QUrl::FullyEncoded)});
    return opener.startDetached();
}

void Reset() {
    delete state.Info.data();
    state = State{};
}

} // namespace Tray
