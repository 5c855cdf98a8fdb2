// norvale-guard: the system service that guards the line, with or without a display.
#include "dialer/CreateDialer.h"
#include "dialer/DialerControl.h"
#include "guard/Authority.h"
#include "guard/GuardLog.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardServer.h"
#include "guard/GuardService.h"
#include "modem/KernelFence.h"
#include "modem/ModemDevices.h"
#include "platform/PrivateFolder.h"
#include "platform/ShutdownSignals.h"
#include "platform/SystemHelpers.h"
#include "platform/TrustedPath.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr char Usage[] = "usage: norvale-guard [--folder DIR] [--run-dir DIR] [--state-dir DIR] [--auth-timeout SECONDS]\n"
                         "       norvale-guard --release [--run-dir DIR]\n"
                         "  --folder DIR     the program's folder (default: the folder of this program)\n"
                         "  --run-dir DIR    the guard's own root-only folder (default: /run/norvale-guard)\n"
                         "  --state-dir DIR  lock records of files without extended attributes\n"
                         "                   (default: /var/lib/norvale-guard)\n"
                         "  --auth-timeout SECONDS  how long polkit's dialog may wait for a password\n"
                         "                   (default: 120)\n"
                         "  --release        take away the modem's fence that a guard of the run folder\n"
                         "                   left, and give the modem its owner and mode back\n";

int refuse(const QString& why) {
    GuardLog::Error(why);
    return 1;
}

// pkcheck, pppd and chat are found on PATH and run as root: a folder on it that another user can
// write (a user's PATH kept by su) would run that user's programs. Such folders are left out.
void keepOnlyRootsPath() {
    QStringList kept;
    for (const QString& folder : qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts)) {
        QString why;
        if (folder.startsWith(u'/') && Subs::OnlyOwnersCanChange(folder, &why))
            kept << folder;
        else if (QFileInfo::exists(folder))
            GuardLog::Warning(QStringLiteral("%1 left out of PATH: %2")
                                  .arg(folder, why.isEmpty() ? QStringLiteral("not an absolute path") : why));
    }
    if (kept.isEmpty())
        kept = QStringList{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin"),
                           QStringLiteral("/bin")};
    qputenv("PATH", QFile::encodeName(kept.join(u':')));
}

// One guard for a run folder: the lock goes with the process, however it ends.
bool takeRunLock(const QString& runFolder) {
    const QByteArray path = QFile::encodeName(runFolder + QStringLiteral("/guard.lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Needs no guard: a crashed one, or none, left the fence and the modem's record behind.
int releaseFence(const QString& runFolder) {
    if (::geteuid() != 0)
        return refuse(QStringLiteral("--release needs root"));
    QString why;
    const bool released = KernelFence::Release(runFolder, &why);
    if (!released)
        GuardLog::Error(why);
    ModemDevices(runFolder + QStringLiteral("/modem-devices")).giveBackRecorded();
    return released ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    GuardLog::Install();
    // No display and no session bus: nothing the desktop's user controls may reach this process.
    // Nor a system bus other than the system's: pkcheck would take its answer from that bus's
    // "polkit".
    for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "DBUS_SYSTEM_BUS_ADDRESS", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE"})
        ::unsetenv(name);
    keepOnlyRootsPath();
    ShutdownSignals::BlockInAllThreads();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvale-guard"));

    QString folder = QCoreApplication::applicationDirPath();
    QString runFolder = QStringLiteral("/run/norvale-guard");
    QString stateFolder;
    int authTimeoutMs = Authority::PkcheckTimeoutMs;
    bool release = false;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == u"--auth-timeout" && i + 1 < arguments.size()) {
            bool number = false;
            const int seconds = arguments.at(++i).toInt(&number);
            if (number && seconds > 0 && seconds <= 3600) {
                authTimeoutMs = seconds * 1000;
                continue;
            }
        }
        if (argument == u"--release") {
            release = true;
            continue;
        }
        if ((argument == u"--folder" || argument == u"--run-dir" || argument == u"--state-dir") &&
            i + 1 < arguments.size()) {
            (argument == u"--folder" ? folder : argument == u"--run-dir" ? runFolder : stateFolder) =
                QFileInfo(arguments.at(++i)).absoluteFilePath();
            continue;
        }
        std::fputs(Usage, argument == u"--help" ? stdout : stderr);
        return argument == u"--help" ? 0 : 2;
    }
    if (release)
        return releaseFence(runFolder);
    if (!QFileInfo(folder).isDir())
        return refuse(QStringLiteral("%1 is not a folder").arg(folder));
    QString why;
    // Root writes nv4.ini and the phonebook there and runs pppd on the call files: a folder that
    // another user could change, or rename away, would let that user choose what root writes.
    if (!Subs::OnlyOwnersCanChange(folder, &why))
        return refuse(QStringLiteral("the program's folder may be changed by root only: %1").arg(why));
    if (!Subs::EnsurePrivateFolder(runFolder, &why))
        return refuse(why);
    if (!Subs::OnlyOwnersCanChange(runFolder, &why))
        return refuse(QStringLiteral("the run folder may be changed by root only: %1").arg(why));
    if (!takeRunLock(runFolder))
        return refuse(QStringLiteral("another norvale-guard runs with %1").arg(runFolder));

    ShutdownSignals shutdown;
    Authority authority(Global::GroupNamesOf, Authority::Pkcheck(authTimeoutMs));
    GuardServer server;
    if (!server.listen(Subs::WithTrailingSlash(folder) + QLatin1String(GuardProtocol::SocketName), &why))
        return refuse(why);
    GuardService::Options options;
    options.programFolder = folder;
    options.recordFolder = stateFolder;
    GuardService guard(CreateDialer(Subs::WithTrailingSlash(folder), runFolder), server, authority, std::move(options));
    QObject::connect(&shutdown, &ShutdownSignals::received, &guard, [&guard] {
        guard.Shutdown();
        QCoreApplication::exit(0);
    });
    guard.Start();
    return QCoreApplication::exec();
}
