#include "modem/CallEnder.h"

#include "platform/SystemHelpers.h"

#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int HoldMs = 1000;
constexpr int GraceMs = 1000;
} // namespace

int LineSeam::openLine(const QByteArray& node) {
    return ::open(node.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
}

bool LineSeam::flushOutput(int fd) {
    return ::tcflush(fd, TCOFLUSH) == 0;
}

bool LineSeam::dropDtr(int fd) {
    const int dtr = TIOCM_DTR;
    return ::ioctl(fd, TIOCMBIC, &dtr) == 0;
}

void LineSeam::closeLine(int fd) {
    ::close(fd);
}

Pidfd LineSeam::take(pid_t pid) {
    return Pidfd(pid);
}

std::optional<quint64> LineSeam::startTime(pid_t pid) {
    const auto stat = Subs::ReadProcessStat(pid);
    return stat ? std::optional<quint64>(stat->startTime) : std::nullopt;
}

bool LineSeam::signal(const Pidfd& process, int signal) {
    return process.sendSignal(signal);
}

QByteArray HeldModem(pid_t pid, const QList<ModemNode>& nodes) {
    if (nodes.isEmpty())
        return {};
    char folder[64];
    std::snprintf(folder, sizeof folder, "/proc/%d/fd", static_cast<int>(pid));
    DIR* fds = ::opendir(folder);
    if (!fds)
        return {};
    QByteArray held;
    while (const dirent* d = ::readdir(fds)) {
        if (d->d_name[0] == '.')
            continue;
        char path[320];
        std::snprintf(path, sizeof path, "%s/%s", folder, d->d_name);
        char target[8];
        // Pipes, sockets and the like name no file: only a path can be a device node.
        if (::readlink(path, target, sizeof target) <= 0 || target[0] != '/')
            continue;
        // Without asking the file system: a FUSE daemon that never answers must not stop the look.
        struct statx look {};
        if (::statx(AT_FDCWD, path, AT_STATX_DONT_SYNC, STATX_TYPE, &look) != 0)
            continue;
        struct stat info {};
        info.st_mode = look.stx_mode;
        info.st_rdev = makedev(look.stx_rdev_major, look.stx_rdev_minor);
        for (const ModemNode& node : nodes)
            if (held.isEmpty() && node.matches(info))
                held = node.path;
        if (!held.isEmpty())
            break;
    }
    ::closedir(fds);
    return held;
}

CallEnder::CallEnder(std::unique_ptr<LineSeam> seam, QObject* parent)
    : QObject(parent), m_seam(seam ? std::move(seam) : std::make_unique<LineSeam>()) {}

CallEnder::~CallEnder() {
    for (int fd : m_held)
        m_seam->closeLine(fd);
    for (const auto& batch : m_batches)
        for (const Pidfd& p : *batch)
            if (!p.hasExited())
                m_seam->signal(p, SIGKILL);
}

void CallEnder::end(const QList<ModemNode>& nodes, const QList<CallProcess>& processes) {
    for (const ModemNode& node : nodes) {
        const int fd = m_seam->openLine(node.path);
        if (fd < 0)
            continue;
        // What the dialler wrote and the line has not sent yet (a dial command) never goes out.
        m_seam->flushOutput(fd);
        m_seam->dropDtr(fd);
        m_held.push_back(fd);
        // Held without blocking: the modem hangs up once DTR stays low; the close lets it rise.
        QTimer::singleShot(HoldMs, this, [this, fd] {
            const auto it = std::find(m_held.begin(), m_held.end(), fd);
            if (it == m_held.end())
                return;
            m_held.erase(it);
            m_seam->closeLine(fd);
        });
    }
    auto batch = std::make_shared<Batch>();
    for (const CallProcess& p : processes) {
        Pidfd handle = m_seam->take(p.pid);
        if (!handle.isValid())
            continue;
        // Checked after the handle is held: what matches now stays the process the handle names.
        if (m_seam->startTime(p.pid) != std::optional<quint64>(p.startTime) ||
            (p.heldModem && !HoldsModem(p.pid, nodes)))
            continue;
        // A dial command typed a character at a time is cut short only by an end at once.
        if (m_seam->signal(handle, p.gentle ? SIGTERM : SIGKILL) && p.gentle)
            batch->push_back(std::move(handle));
    }
    if (batch->empty())
        return;
    m_batches.push_back(batch);
    QTimer::singleShot(GraceMs, this, [this, batch] {
        for (const Pidfd& p : *batch)
            if (!p.hasExited())
                m_seam->signal(p, SIGKILL);
        m_batches.erase(std::remove(m_batches.begin(), m_batches.end(), batch), m_batches.end());
    });
}
