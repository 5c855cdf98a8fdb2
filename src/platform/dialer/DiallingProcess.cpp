#include "platform/dialer/DiallingProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstdlib>

namespace {

QByteArray readSmallFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return f.read(64 * 1024);
}

QString procPath(pid_t pid, const char* leaf)
{
    return QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(leaf));
}

// The parent from /proc/PID/stat; the command name there may hold blanks and parentheses.
pid_t parentOf(pid_t pid)
{
    const QByteArray stat = readSmallFile(procPath(pid, "stat"));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 1 ? static_cast<pid_t>(fields.at(1).toInt()) : 0;
}

bool isTty(const QString& path)
{
    return path.startsWith(QLatin1String("/dev/")) && path != QLatin1String("/dev/null");
}

} // namespace

QString DiallingProcess::programKind(const QString& pathOrName)
{
    QString name = QFileInfo(pathOrName).fileName();
    if (name.endsWith(QLatin1String(" (deleted)")))
        name.chop(10);
    if (name == QLatin1String("pppd") || name == QLatin1String("chat") || name == QLatin1String("wvdial"))
        return name;
    return {};
}

QString DiallingProcess::entryNameFor(const QString& program, const QStringList& arguments, const QString& device)
{
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
    return device.isEmpty() ? program : program + QLatin1Char(' ') + device;
}

std::optional<DiallingProcess> DiallingProcess::inspect(pid_t pid)
{
    const QString exe = QFile::symLinkTarget(procPath(pid, "exe"));
    const QByteArray cmdline = readSmallFile(procPath(pid, "cmdline"));
    QStringList arguments;
    for (const QByteArray& a : cmdline.split('\0'))
        arguments << QString::fromLocal8Bit(a);
    if (!arguments.isEmpty() && arguments.constLast().isEmpty())
        arguments.removeLast();

    QString program = programKind(exe);
    if (program.isEmpty() && !arguments.isEmpty())
        program = programKind(arguments.constFirst());
    if (program.isEmpty())
        return std::nullopt;

    DiallingProcess p;
    p.pid = pid;
    p.program = program;
    p.arguments = arguments;
    // pppd names its device among its arguments; chat, and pppd without one, work on stdin.
    if (program == QLatin1String("pppd")) {
        for (int i = 1; i < arguments.size(); ++i) {
            const QString& a = arguments.at(i);
            if (isTty(a) && arguments.at(i - 1) != QLatin1String("file")) {
                p.device = a;
                break;
            }
        }
    }
    if (p.device.isEmpty()) {
        const QString in = QFile::symLinkTarget(procPath(pid, "fd/0"));
        if (isTty(in))
            p.device = in;
    }
    p.entryName = entryNameFor(program, arguments, p.device);
    for (pid_t up = parentOf(pid); up > 1 && p.ancestors.size() < 64; up = parentOf(up))
        p.ancestors.append(up);
    return p;
}

QList<DiallingProcess> DiallingProcess::scanAll()
{
    QList<DiallingProcess> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : pids) {
        bool ok = false;
        const pid_t pid = static_cast<pid_t>(name.toInt(&ok));
        if (!ok || pid <= 1)
            continue;
        if (auto p = inspect(pid))
            found.append(*p);
    }
    return found;
}

QList<pid_t> DiallingProcess::descendantsOf(const QSet<pid_t>& roots)
{
    QHash<pid_t, QList<pid_t>> children;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : pids) {
        bool ok = false;
        const pid_t pid = static_cast<pid_t>(name.toInt(&ok));
        if (ok && pid > 1)
            children[parentOf(pid)].append(pid);
    }
    QList<pid_t> out;
    QList<pid_t> queue(roots.cbegin(), roots.cend());
    QSet<pid_t> seen = roots;
    while (!queue.isEmpty()) {
        const pid_t pid = queue.takeFirst();
        for (pid_t child : children.value(pid)) {
            if (seen.contains(child))
                continue;
            seen.insert(child);
            out.append(child);
            queue.append(child);
        }
    }
    return out;
}
