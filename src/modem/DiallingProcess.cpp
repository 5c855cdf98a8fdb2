#include "modem/DiallingProcess.h"

#include "modem/AllowedPrograms.h"
#include "platform/SystemHelpers.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Plain system calls: a scan reads a few files of every process on the machine, and it runs
// in the middle of a hang-up.
QByteArray readSmallFile(const char* path) {
    return Subs::ReadSmallFile(path, 64 * 1024);
}

QByteArray procPath(pid_t pid, const char* leaf) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/%s", static_cast<int>(pid), leaf);
    return QByteArray(path);
}

QString linkTarget(const QByteArray& path) {
    char target[4096];
    const ssize_t n = ::readlink(path.constData(), target, sizeof target);
    return n > 0 ? QString::fromLocal8Bit(target, n) : QString();
}

// The parent from /proc/PID/stat; the command name there may hold blanks and parentheses.
pid_t parentOf(pid_t pid) {
    const QByteArray stat = readSmallFile(procPath(pid, "stat").constData());
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 1 ? static_cast<pid_t>(fields.at(1).toInt()) : 0;
}

// Every process on the machine (thread-group leaders).
QList<pid_t> allProcesses() {
    QList<pid_t> pids;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent* d = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(d->d_name, &end, 10);
        if (*end == '\0' && pid > 1)
            pids.append(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
    return pids;
}

// The children of every thread of a process.
QList<pid_t> childrenOf(pid_t pid) {
    QList<pid_t> out;
    DIR* tasks = ::opendir(procPath(pid, "task").constData());
    if (!tasks)
        return out;
    while (const dirent* d = ::readdir(tasks)) {
        if (d->d_name[0] == '.')
            continue;
        const QByteArray path = procPath(pid, "task/") + d->d_name + "/children";
        for (const QByteArray& child : readSmallFile(path.constData()).split(' ')) {
            bool ok = false;
            const pid_t c = static_cast<pid_t>(child.trimmed().toInt(&ok));
            if (ok && c > 0)
                out.append(c);
        }
    }
    ::closedir(tasks);
    return out;
}

// The name a call is shown under when no command line names its entry.
QString plainName(const QString& program, const QString& device) {
    return device.isEmpty() ? program : program + QLatin1Char(' ') + device;
}

bool isTty(const QString& path) {
    return path.startsWith(QLatin1String("/dev/")) && path != QLatin1String("/dev/null");
}

} // namespace

QString DiallingProcess::entryNameFor(const QString& program, const QStringList& arguments,
                                      const QString& device) {
    if (program == QLatin1String("wvdial")) {
        // wvdial [--config FILE] [--chat] [--remotename NAME] [--no-syslog] [SECTION...]
        for (int i = 1; i < arguments.size(); ++i) {
            const QString& a = arguments.at(i);
            if (a == QLatin1String("--config") || a == QLatin1String("-C") ||
                a == QLatin1String("--remotename") || a == QLatin1String("-R")) {
                ++i;
                continue;
            }
            if (a.startsWith(QLatin1Char('-')))
                continue;
            return a;
        }
        return QStringLiteral("Defaults");
    }
    if (program == QLatin1String("pppd")) {
        for (const char* option : {"call", "linkname"}) {
            const qsizetype at = arguments.indexOf(QLatin1String(option));
            if (at > 0 && at + 1 < arguments.size() && !arguments.at(at + 1).isEmpty())
                return arguments.at(at + 1);
        }
    }
    return plainName(program, device);
}

namespace {

std::optional<DiallingProcess> inspectAny(pid_t pid, bool anyProgram, const AllowedPrograms& diallers) {
    // What it runs, whatever it calls itself: a name is anyone's to take.
    const QString kind = diallers.programOf(pid);
    if (kind.isEmpty() && !anyProgram)
        return std::nullopt;
    const QString executable = linkTarget(procPath(pid, "exe"));
    const QString program = kind.isEmpty() ? QFileInfo(executable).fileName() : kind;
    const QByteArray cmdline = readSmallFile(procPath(pid, "cmdline").constData());
    const auto stat = Subs::ReadProcessStat(pid);
    if (program.isEmpty() || !stat)
        return std::nullopt;

    DiallingProcess p;
    p.pid = pid;
    p.program = program;
    p.dialler = !kind.isEmpty();
    p.executable = executable;
    p.startTime = stat->startTime;
    for (const QByteArray& a : cmdline.split('\0'))
        p.arguments << QString::fromLocal8Bit(a);
    if (!p.arguments.isEmpty() && p.arguments.constLast().isEmpty())
        p.arguments.removeLast();
    // pppd names its device among its arguments; chat, and pppd without one, work on stdin.
    if (p.dialler && program == QLatin1String("pppd")) {
        for (int i = 1; i < p.arguments.size(); ++i) {
            const QString& a = p.arguments.at(i);
            if (isTty(a) && p.arguments.at(i - 1) != QLatin1String("file")) {
                p.device = a;
                break;
            }
        }
    }
    if (p.device.isEmpty()) {
        const QString in = linkTarget(procPath(pid, "fd/0"));
        if (isTty(in))
            p.device = in;
    }
    // Only a dialler's command line names an entry: another program's arguments mean nothing here.
    p.entryName = p.dialler ? DiallingProcess::entryNameFor(program, p.arguments, p.device)
                            : plainName(program, p.device);
    for (pid_t up = parentOf(pid); up > 1 && p.ancestors.size() < 64; up = parentOf(up))
        p.ancestors.append(up);
    return p;
}

} // namespace

std::optional<DiallingProcess> DiallingProcess::inspect(pid_t pid, const AllowedPrograms& diallers) {
    return inspectAny(pid, false, diallers);
}

std::optional<DiallingProcess> DiallingProcess::inspectHolder(pid_t pid, const QString& device,
                                                              const AllowedPrograms& diallers) {
    auto p = inspectAny(pid, true, diallers);
    if (p) {
        p->holdsModem = true;
        if (p->device.isEmpty() || !p->namesEntry()) {
            p->device = device;
            p->entryName =
                p->dialler ? entryNameFor(p->program, p->arguments, device) : plainName(p->program, device);
        }
    }
    return p;
}

bool DiallingProcess::namesEntry() const {
    return entryName != plainName(program, device);
}

QList<pid_t> DiallingProcess::allProcessIds() {
    return allProcesses();
}

QList<DiallingProcess> DiallingProcess::scanAll(const AllowedPrograms& diallers) {
    QList<DiallingProcess> found;
    for (pid_t pid : allProcesses())
        if (auto p = inspect(pid, diallers))
            found.append(*p);
    return found;
}

QList<pid_t> DiallingProcess::descendantsOf(const QSet<pid_t>& roots) {
    QList<pid_t> out;
    QList<pid_t> queue(roots.cbegin(), roots.cend());
    QSet<pid_t> seen = roots;
    while (!queue.isEmpty()) {
        const pid_t pid = queue.takeFirst();
        for (pid_t child : childrenOf(pid)) {
            if (seen.contains(child))
                continue;
            seen.insert(child);
            out.append(child);
            queue.append(child);
        }
    }
    return out;
}
