#include "app/SingleInstance.h"
#include "app/frmNV4.h"
#include "guard/GuardProtocol.h"
#include "news/NewsState.h"
#include "platform/CommandLine.h"
#include "platform/InstallFolders.h"
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

namespace {

constexpr char Name[] = "norvale";

QByteArray usage(const InstallFolders& folders) {
    return QStringLiteral("usage: norvale [--guard-socket PATH]\n"
                          "       norvale --help | --version\n"
                          "The strip of the dial-up connection that norvale-guard guards.\n"
                          "  --guard-socket PATH  the guard's socket (default: %1/guard.sock)\n")
        .arg(folders.run)
        .toLocal8Bit();
}

} // namespace

int main(int argc, char* argv[]) {
    const InstallFolders folders = InstallFolders::OfThisProgram();
    QString guardSocket = folders.run + u'/' + QLatin1String(GuardProtocol::SocketName);
    const QStringList arguments = CommandLine::Arguments(argc, argv);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == u"--help")
            return CommandLine::Help(usage(folders).constData());
        if (arguments.at(i) == u"--version")
            return CommandLine::Version(Name);
        if (arguments.at(i) == u"--guard-socket" && i + 1 < arguments.size()) {
            guardSocket = arguments.at(++i);
            continue;
        }
        return CommandLine::Wrong(Name, QStringLiteral("%1: unknown, or its value is missing").arg(arguments.at(i)),
                                  usage(folders).constData());
    }
    // Root on a user's display is what any X client of that display could take over; the guarding
    // is norvale-guard's, a system service.
    if (::getuid() == 0 || ::geteuid() == 0) {
        std::fputs("norvale: not started as root: start it as the desktop's user (the guard, "
                   "norvale-guard, runs as a system service)\n",
                   stderr);
        return 1;
    }
    // Caught, not blocked: a blocked mask would pass on to every program the display's threads start
    // (the help viewer, a session bus started for it), which could then not be ended normally.
    ShutdownSignals::CatchInAllThreads();
    // Staying on top, placing its own windows and dragging need X11; under Wayland that is XWayland.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norvale"));
    QApplication::setApplicationVersion(QStringLiteral(NORVALE_VERSION));
    // The strip lives on hidden in the notification area; closing a pop-up must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    ShutdownSignals shutdown;
    SingleInstance single(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
                          qEnvironmentVariable("DISPLAY"));
    if (!single.Claim()) {
        std::fputs("norvale: already running on this display: its strip is shown instead\n", stderr);
        return 0;
    }

    frmNV4::Options options;
    options.dataFolder = folders.data;
    options.guardSocket = guardSocket;
    // The display runs as the user, who cannot write the guard's folders.
    options.newsFile = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                       QStringLiteral("/norvale/") + QLatin1String(News::NewsFileName);
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
