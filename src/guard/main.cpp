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
#include "dialer/DialerSettings.h"
#include "platform/CommandLine.h"
#include "platform/InstallFolders.h"
#include "platform/LockRecord.h"
#include "platform/PrivateFolder.h"
#include "settings/FileLocks.h"
#include "platform/ShutdownSignals.h"
#include "platform/SystemHelpers.h"
#include "platform/TrustedPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Name[] = "norvale-guard";

QByteArray usage() {
    const InstallFolders folders = InstallFolders::OfThisProgram();
    return QStringLiteral(
               "usage: norvale-guard [--folder DIR] [--config-dir DIR] [--run-dir DIR]\n"
               "                     [--auth-timeout SECONDS] [--trust-uid UID]\n"
               "       norvale-guard --release [--folder DIR] [--config-dir DIR] [--run-dir DIR]\n"
               "       norvale-guard --help | --version\n"
               "  --folder DIR      the guard's state: nv4.ini, the built-in line's phonebook, the lock\n"
               "                    records (default: %1)\n"
               "  --config-dir DIR  the folder of dialer.conf (default: %2)\n"
               "  --run-dir DIR     guard.sock and line.sock; the guard's own root-only files in\n"
               "                    DIR/private (default: %3)\n"
               "  --auth-timeout SECONDS  how long polkit's dialog may wait for a password\n"
               "                    (default: 120)\n"
               "  --trust-uid UID   that user counts as an administrator without polkit; for a\n"
               "                    throw-away guard only: refused with the system's folders\n"
               "                    and under systemd\n"
               "  --release         take away the modem's fence that a guard of the run folder left,\n"
               "                    give the modem its owner and mode back, and the files it locked\n")
        .arg(folders.state, folders.config, folders.run)
        .toLocal8Bit();
}

int refuse(const QString& why) {
    GuardLog::Error(why);
    return 1;
}

// pkcheck, pppd and chat are found on PATH and run as root: a folder on it that another user can
// write (a user's PATH kept by su) would run that user's programs. Such folders are left out.
// A sticky folder open to all (/tmp) keeps what it holds, but anyone may add a program to it.
void keepOnlyRootsPath() {
    QStringList kept;
    for (const QString& folder : qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts)) {
        QString why;
        struct stat info {};
        if (!folder.startsWith(u'/'))
            why = QStringLiteral("not an absolute path");
        else if (!Subs::OnlyOwnersCanChange(folder, &why))
            why = why.isEmpty() ? QStringLiteral("others than root may change it") : why;
        else if (::stat(QFile::encodeName(folder).constData(), &info) != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            why = QStringLiteral("others than its owner may add programs to it");
        else
            kept << folder;
        if (!why.isEmpty() && QFileInfo::exists(folder))
            GuardLog::Warning(QStringLiteral("%1 left out of PATH: %2").arg(folder, why));
    }
    if (kept.isEmpty())
        kept = QStringList{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin"),
                           QStringLiteral("/bin")};
    qputenv("PATH", QFile::encodeName(kept.join(u':')));
}

// One guard for a run folder (its guard.lock), and one for a state folder (the folder itself, so that
// it holds nothing but the guard's files): the locks go with the process, however it ends.
bool takeLock(const QString& path, int flags) {
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0600);
    return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// The guard's pid, for an init script or a package's removal where no service manager knows it.
void writePid(const QString& runFolder) {
    QSaveFile file(runFolder + QStringLiteral("/guard.pid"));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(::getpid()) + '\n') < 0 || !file.commit())
        GuardLog::Warning(QStringLiteral("%1 not written: %2").arg(file.fileName(), file.errorString()));
}

// A folder root keeps its state or sockets in: made when missing, and only root may change it.
bool ensureRootsFolder(const QString& folder, const char* what, QString* why) {
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        *why = QStringLiteral("%1 %2 cannot be made").arg(QLatin1String(what), folder);
        return false;
    }
    if (Subs::OnlyOwnersCanChange(folder, why))
        return true;
    *why = QStringLiteral("%1 may be changed by root only: %2").arg(QLatin1String(what), *why);
    return false;
}

// Needs no guard: a crashed one, or none, left the fence, the modem's record and the locked files
// behind.
int release(const InstallFolders& folders) {
    if (::geteuid() != 0)
        return refuse(QStringLiteral("--release needs root"));
    QString why;
    const bool released = KernelFence::Release(folders.privateRun(), &why);
    if (!released)
        GuardLog::Error(why);
    ModemDevices(folders.privateRun() + QStringLiteral("/modem-devices")).giveBackRecorded();
    LockRecord::SetFolder(folders.state);
    const QString settings = Subs::WithTrailingSlash(folders.state) + QStringLiteral("nv4.ini");
    for (const QString& line : Global::RestoreRecorded({settings, DialerSettings::read(folders).phonebook}))
        GuardLog::Warning(line);
    return released ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // The log may be a pipe whose reader ends (the init script's logger): a line written there
    // fails, and the guard goes on guarding. Its sockets send with MSG_NOSIGNAL; its children get
    // the default back (QProcess does, and so does the pppd call's own start).
    ::signal(SIGPIPE, SIG_IGN);
    GuardLog::Install();
    InstallFolders folders = InstallFolders::OfThisProgram();
    int authTimeoutMs = Authority::PkcheckTimeoutMs;
    bool releasing = false;
    std::optional<uid_t> trusted;
    const QStringList arguments = CommandLine::Arguments(argc, argv);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == u"--help")
            return CommandLine::Help(usage().constData());
        if (argument == u"--version")
            return CommandLine::Version(Name);
        if (argument == u"--release") {
            releasing = true;
            continue;
        }
        if (i + 1 == arguments.size() || !argument.startsWith(u"--"))
            return CommandLine::Wrong(Name, QStringLiteral("%1: unknown, or its value is missing").arg(argument),
                                      usage().constData());
        const QString value = arguments.at(++i);
        bool number = false;
        if (argument == u"--auth-timeout") {
            const int seconds = value.toInt(&number);
            if (!number || seconds <= 0 || seconds > 3600)
                return CommandLine::Wrong(Name, QStringLiteral("--auth-timeout takes 1 to 3600 seconds"),
                                          usage().constData());
            authTimeoutMs = seconds * 1000;
        } else if (argument == u"--trust-uid") {
            const uint uid = value.toUInt(&number);
            if (!number || uid == uint(-1))
                return CommandLine::Wrong(Name, QStringLiteral("--trust-uid takes a user's number"), usage().constData());
            trusted = uid_t(uid);
        } else if (argument == u"--folder" || argument == u"--config-dir" || argument == u"--run-dir") {
            (argument == u"--folder" ? folders.state : argument == u"--config-dir" ? folders.config : folders.run) =
                QDir::cleanPath(QFileInfo(value).absoluteFilePath());
        } else {
            return CommandLine::Wrong(Name, QStringLiteral("%1: unknown option").arg(argument), usage().constData());
        }
    }

    // No display and no session bus: nothing the desktop's user controls may reach this process.
    // Nor a system bus other than the system's: pkcheck would take its answer from that bus's
    // "polkit".
    for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "DBUS_SYSTEM_BUS_ADDRESS", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE"})
        ::unsetenv(name);
    keepOnlyRootsPath();
    if (releasing)
        return release(folders);
    // A trusted user is an administrator of this guard alone: never of the system's.
    if (trusted && (folders.sharesSystemFolders() || qEnvironmentVariableIsSet("INVOCATION_ID")))
        return refuse(QStringLiteral("--trust-uid is for a throw-away guard: not with %1, %2 or %3, not under systemd")
                          .arg(QLatin1String(InstallFolders::SystemConfig), QLatin1String(InstallFolders::SystemState),
                               QLatin1String(InstallFolders::SystemRun)));
    ShutdownSignals::BlockInAllThreads();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvale-guard"));

    QString why;
    // Root writes nv4.ini and the phonebook there and runs pppd on the call files: a folder that
    // another user could change, or rename away, would let that user choose what root writes.
    if (!ensureRootsFolder(folders.state, "the state folder", &why) ||
        !ensureRootsFolder(folders.run, "the run folder", &why))
        return refuse(why);
    const QString runFolder = folders.privateRun();
    if (!Subs::EnsurePrivateFolder(runFolder, &why))
        return refuse(why);
    if (!Subs::OnlyOwnersCanChange(runFolder, &why))
        return refuse(QStringLiteral("the private run folder may be changed by root only: %1").arg(why));
    if (!takeLock(runFolder + QStringLiteral("/guard.lock"), O_RDWR | O_CREAT | O_NOFOLLOW))
        return refuse(QStringLiteral("another norvale-guard runs with %1").arg(runFolder));
    if (!takeLock(folders.state, O_RDONLY | O_DIRECTORY))
        return refuse(QStringLiteral("another norvale-guard runs with %1").arg(folders.state));
    writePid(runFolder);

    ShutdownSignals shutdown;
    Authority authority(Global::GroupNamesOf, Authority::Pkcheck(authTimeoutMs));
    if (trusted)
        authority.trustWithoutPolkit(*trusted);
    GuardServer server;
    server.keepRoomFor([&authority](uid_t uid) { return authority.inAdministratorGroup(uid); });
    if (!server.listen(Subs::WithTrailingSlash(folders.run) + QLatin1String(GuardProtocol::SocketName), &why))
        return refuse(why);
    GuardService::Options options;
    options.programFolder = folders.state;
    options.recordFolder = folders.state;
    GuardService guard(CreateDialer(folders), server, authority, std::move(options));
    QObject::connect(&shutdown, &ShutdownSignals::received, &guard, [&guard] {
        guard.Shutdown();
        QCoreApplication::exit(0);
    });
    guard.Start();
    const int status = QCoreApplication::exec();
    // A pid left behind would name another process once the number is taken again.
    QFile::remove(runFolder + QStringLiteral("/guard.pid"));
    return status;
}
