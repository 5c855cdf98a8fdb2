#include "platform/ShutdownSignals.h"
#include "platform/SystemHelpers.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"
#include "settings/SettingsFile.h"

#include <QApplication>

#include <cstdio>

// Until the main window exists, the program runs the settings and protection core: it reads the
// settings, holds the settings file locked, and releases it on a shut-down signal.
int main(int argc, char* argv[]) {
    ShutdownSignals::BlockInAllThreads();
    QApplication app(argc, argv);
    ShutdownSignals shutdown;
    QApplication::setApplicationName(QStringLiteral("Norvale"));
    QApplication::setApplicationVersion(QStringLiteral("4.3.0"));

    Global::state.AppFolder = Subs::WithTrailingSlash(QApplication::applicationDirPath());
    Global::state.SettingsFile = Global::state.AppFolder + QStringLiteral("nv4.ini");
    Global::LoadConnections();
    Global::LockSettingsFile();
    std::printf("Norvale %s: %d stored connections, settings file %s locked. Stop with Ctrl+C.\n",
                qPrintable(QApplication::applicationVersion()), int(Global::state.ConnectionCount),
                qPrintable(Global::state.SettingsFile));
    std::fflush(stdout);

    QObject::connect(&shutdown, &ShutdownSignals::received, &app, [] {
        Global::UnlockSettingsFile();
        QApplication::quit();
    });
    return QApplication::exec();
}
