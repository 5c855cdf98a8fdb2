#include "app/SingleInstance.h"
#include "app/frmNV4.h"
#include "platform/ShutdownSignals.h"
#include "platform/SystemHelpers.h"
#include "sound/Media.h"
#include "tray/ShowInfo.h"
#include "tray/TrayState.h"
#include "tray/frmMenu.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    // Root on a user's display is what any X client of that display could take over; the guarding
    // is norvale-guard's, a system service.
    if (::getuid() == 0 || ::geteuid() == 0) {
        std::fputs("norvale: not started as root: start it as the desktop's user (the guard, "
                   "norvale-guard, runs as a system service)\n",
                   stderr);
        return 1;
    }
    ShutdownSignals::BlockInAllThreads();
    // Staying on top, placing its own windows and dragging need X11; under Wayland that is XWayland.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norvale"));
    QApplication::setApplicationVersion(QStringLiteral("4.3.0"));
    // The strip lives on hidden in the notification area; closing a pop-up must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    ShutdownSignals shutdown;
    SingleInstance single(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
                          qEnvironmentVariable("DISPLAY"));
    if (!single.Claim()) {
        std::fputs("norvale: already running on this display: its strip is shown instead\n", stderr);
        return 0;
    }

    const QString appFolder = Subs::WithTrailingSlash(QApplication::applicationDirPath());
    frmNV4::Options options;
    options.programFolder = appFolder;
    frmNV4 window(std::move(options));
    window.Hooks().PlaySound = Media::PlaySound;
    window.Hooks().CheckSoundEnd = Media::CheckSoundEnd;
    window.Hooks().ShowInfo = Global::ShowInfo;
    // The menu carrier is made on the first right press and kept until the program ends.
    std::unique_ptr<frmMenu> menu;
    window.Hooks().PopupTrayMenu = [&window, &menu](float x, float y) {
        if (!menu)
            menu = std::make_unique<frmMenu>(window);
        menu->PopupTrayMenu(x, y);
    };
    // Desktop tests capture the cues (a gst-launch description such as "fakesink sync=true").
    Media::state.AudioSink = qEnvironmentVariable("NORVALE_AUDIO_SINK");
    // A logout or a shut-down signal ends the display only; the guard goes on.
    QObject::connect(&shutdown, &ShutdownSignals::received, &window, &frmNV4::Form_Unload);
    QObject::connect(&single, &SingleInstance::ShowRequested, &window, &frmNV4::Restore);

    window.Form_Load();
    window.show();
    const int result = QApplication::exec();
    Tray::Reset();
    return result;
}
