#include "modem/ModemFence.h"

#include "modem/AllowedPrograms.h"
#include "modem/ModemDevices.h"
#include "modem/ProcessEventWatch.h"
#include "platform/TrustedPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int RefreshMs = 10000;
constexpr int LogEveryMs = 1000;
constexpr int TellEveryMs = 10000;
constexpr int CheckAttachedMs = 1000;
// All programs together: at most this many log lines a second, and one word to the displays.
constexpr int LinesPerSecond = 10;
constexpr int AnyTellEveryMs = 1000;

bool isPtySlave(unsigned major) {
    return major >= 136 && major <= 143;
}

QString whatText(KernelFence::What what) {
    switch (what) {
    case KernelFence::What::Open:
    case KernelFence::What::LsmOpen:
        return QStringLiteral("an open");
    case KernelFence::What::Mknod:
        return QStringLiteral("a node");
    case KernelFence::What::Receive:
        return QStringLiteral("a descriptor passed or copied");
    case KernelFence::What::Ptrace:
        return QStringLiteral("an attach to a guarded process");
    case KernelFence::What::Join:
        return QStringLiteral("a join of the guard's cgroup");
    }
    return QStringLiteral("an access");
}

// The other tty ports of the USB device a port belongs to: a 3G stick speaks AT on several.
void addUsbSiblings(const QString& port, QList<quint32>& devices) {
    QDir up(port);
    QString usb;
    while (up.cdUp() && up.path().startsWith(QLatin1String("/sys/devices/"))) {
        if (QFileInfo::exists(up.filePath(QStringLiteral("idVendor")))) {
            usb = up.path() + u'/';
            break;
        }
    }
    if (usb.isEmpty())
        return;
    const QDir ttys(QStringLiteral("/sys/class/tty"));
    for (const QString& name : ttys.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        const QString target = QFileInfo(ttys.filePath(name)).canonicalFilePath();
        if (!target.startsWith(usb))
            continue;
        QFile dev(target + QStringLiteral("/dev"));
        if (!dev.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> numbers = dev.readAll().trimmed().split(':');
        if (numbers.size() != 2)
            continue;
        const quint32 device = KernelFence::DeviceNumber(numbers.at(0).toUInt(), numbers.at(1).toUInt());
        if (!devices.contains(device))
            devices << device;
    }
}

// A pty slave is there while its devpts node is; any other device while sysfs lists it.
bool deviceExists(quint32 device) {
    const unsigned major = device >> 20, minor = device & 0xFFFFF;
    if (isPtySlave(major))
        return QFileInfo::exists(QStringLiteral("/dev/pts/%1").arg((major - 136) * 256 + minor));
    return QFileInfo::exists(QStringLiteral("/sys/dev/char/%1:%2").arg(major).arg(minor));
}

} // namespace

ModemFence::ModemFence(const QString& runFolder, bool enabled, QObject* parent)
    : QObject(parent), m_runFolder(runFolder), m_enabled(enabled), m_refresh(new QTimer(this)),
      m_attached(new QTimer(this)) {
    m_refresh->setInterval(RefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &ModemFence::refresh);
    m_attached->setInterval(CheckAttachedMs);
    connect(m_attached, &QTimer::timeout, this, [this] {
        if (m_fence && m_fence->reattachIfDetached())
            qWarning("modem fence: someone detached the fence: attached again");
        if (const QStringList maps = m_fence ? m_fence->restoreMaps() : QStringList(); !maps.isEmpty())
            qWarning("modem fence: someone changed the fence's maps (%s): set back", qPrintable(maps.join(u", ")));
    });
}

ModemFence::~ModemFence() {
    if (m_uevents >= 0)
        ::close(m_uevents);
}

void ModemFence::start() {
    QString why;
    if (!m_enabled) {
        if (!KernelFence::Release(m_runFolder, &why))
            qWarning("modem fence: fence=off, but an earlier fence stays: %s", qPrintable(why));
        qWarning("modem fence: off (fence=off): only the device modes and the holder watch guard the modem");
        return;
    }
    m_fence = new KernelFence(m_runFolder, this);
    connect(m_fence, &KernelFence::refused, this, &ModemFence::onRefused);
    fenceModems();
    m_loaded = m_fence->start(&why);
    if (!m_loaded) {
        qWarning("modem fence: no kernel fence (%s): only the device modes and the holder watch guard the modem",
                 qPrintable(why));
        delete std::exchange(m_fence, nullptr);
        return;
    }
    qInfo("modem fence: %s", m_fence->lsmLayer() ? "the device cgroup program and the BPF LSM programs hold"
                                                 : "the device cgroup program holds; the BPF LSM is not active");
    m_uevents = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;
    if (m_uevents >= 0 && ::bind(m_uevents, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        m_ueventNotifier = new QSocketNotifier(m_uevents, QSocketNotifier::Read, this);
        connect(m_ueventNotifier, &QSocketNotifier::activated, this, &ModemFence::onUevents);
    }
    refresh();
    m_refresh->start();
    m_attached->start();
}

void ModemFence::setModems(const QStringList& modems) {
    m_modems = modems;
    fenceModems();
}

void ModemFence::nodesMoved() {
    fenceModems();
}

// A modem that is missing for a moment (unplugged, its node made again) keeps its numbers fenced,
// and so does one whose path was turned to another device while it is still there: its numbers go
// when the device is gone, or when the phonebook names it no more.
void ModemFence::fenceModems() {
    QHash<QString, QList<quint32>> fenced;
    QList<quint32> devices;
    for (const QString& modem : std::as_const(m_modems)) {
        QList<quint32> found = DevicesOf({modem});
        for (const quint32 device : m_fencedOf.value(modem))
            if (!found.contains(device) && (found.isEmpty() || deviceExists(device)))
                found << device;
        fenced.insert(modem, found);
        for (const quint32 device : std::as_const(found))
            if (!devices.contains(device))
                devices << device;
    }
    m_fencedOf = fenced;
    if (m_fence)
        m_fence->setDevices(devices);
}

void ModemFence::follow(const AllowedPrograms* allowed, ProcessEventWatch* events) {
    m_allowed = allowed;
    m_events = events;
    connect(allowed, &AllowedPrograms::identitiesChanged, this, &ModemFence::refresh);
    refresh();
}

bool ModemFence::isInside(pid_t pid) const {
    return m_fence && m_fence->cgroupLayer() && KernelFence::CgroupOf(pid) == m_fence->cgroup().path;
}

QStringList ModemFence::layers() const {
    QStringList layers;
    if (m_fence && m_fence->cgroupLayer())
        layers << QStringLiteral("cgroup");
    if (m_fence && m_fence->lsmLayer())
        layers << QStringLiteral("lsm");
    return layers;
}

QString ModemFence::reducedProtection() const {
    if (!m_enabled)
        return QStringLiteral("recinto disattivato (fence=off)");
    if (!m_fence)
        return QStringLiteral("nessun recinto del kernel");
    if (!m_fence->lsmLayer())
        return QStringLiteral("modulo BPF LSM non attivo");
    return {};
}

void ModemFence::release() {
    m_refresh->stop();
    m_attached->stop();
    if (m_events)
        m_events->setProgramsOfInterest({}, nullptr);
    if (m_fence)
        m_fence->release();
    delete std::exchange(m_fence, nullptr);
}

QList<quint32> ModemFence::DevicesOf(const QStringList& modems) {
    QList<quint32> devices;
    for (const QString& modem : modems) {
        // As the device modes: a serial line reached through root's own links and folders only.
        const int fd = Subs::ResolveWithOwnLinks(modem);
        struct stat info {};
        const bool found = fd >= 0 && ::fstat(fd, &info) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!found || !NotAModem(info, modem).isEmpty())
            continue;
        const unsigned major = ::major(info.st_rdev), minor = ::minor(info.st_rdev);
        const quint32 device = KernelFence::DeviceNumber(major, minor);
        if (!devices.contains(device))
            devices << device;
        if (!isPtySlave(major))
            addUsbSiblings(QFileInfo(QStringLiteral("/sys/dev/char/%1:%2").arg(major).arg(minor)).canonicalFilePath(),
                           devices);
    }
    return devices;
}

// Allowed programs are known again by their files (a package upgrade replaces them), and their
// processes by a look at /proc: the cgroup program knows no executables.
void ModemFence::refresh() {
    if (!m_fence)
        return;
    for (auto* said : {&m_logged, &m_told})
        said->removeIf([](const auto& entry) { return entry.value().elapsed() >= TellEveryMs; });
    fenceModems();
    const QList<ExecutableIdentity> identities = m_allowed ? m_allowed->identities() : QList<ExecutableIdentity>();
    QList<KernelFence::FileId> programs;
    QList<QPair<quint64, quint64>> files;
    for (const ExecutableIdentity& identity : identities) {
        programs.append({identity.kernelDev, quint64(identity.file.ino)});
        files.append({quint64(identity.file.dev), quint64(identity.file.ino)});
    }
    m_fence->setAllowedPrograms(programs);
    const KernelFence::PidDoor door = m_fence->pidDoor();
    if (m_events)
        m_events->setProgramsOfInterest(files, door);
    QSet<pid_t> running;
    if (!identities.isEmpty()) {
        for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            bool number = false;
            const pid_t pid = pid_t(name.toInt(&number));
            if (number && m_allowed->allows(pid))
                running.insert(pid);
        }
    }
    // Tracked before they are let in: an exit in between is then told, and the pid is never
    // left open for another process to reuse.
    for (const pid_t pid : std::as_const(running)) {
        if (m_events)
            m_events->trackInterest(pid);
        door(pid, true);
        if (!m_allowed->allows(pid))
            door(pid, false);
    }
    for (const pid_t pid : m_fence->allowedProcesses())
        if (!running.contains(pid))
            door(pid, false);
}

void ModemFence::onUevents() {
    char buffer[8192];
    bool tty = false;
    ssize_t size;
    while ((size = ::recv(m_uevents, buffer, sizeof buffer, 0)) > 0)
        tty = tty || QByteArray::fromRawData(buffer, size).contains("SUBSYSTEM=tty");
    if (tty)
        fenceModems();
}

void ModemFence::onRefused(const KernelFence::Refusal& refusal) {
    const unsigned major = refusal.device >> 20, minor = refusal.device & 0xFFFFF;
    QString device = refusal.device ? QStringLiteral("%1:%2").arg(major).arg(minor) : QString();
    for (const QString& modem : std::as_const(m_modems)) {
        struct stat info {};
        if (refusal.device && ::stat(QFile::encodeName(modem).constData(), &info) == 0 &&
            ::major(info.st_rdev) == major && ::minor(info.st_rdev) == minor)
            device = modem;
    }
    QElapsedTimer& logged = m_logged[refusal.program];
    if (!logged.isValid() || logged.elapsed() >= LogEveryMs) {
        if (!m_lastLine.isValid() || m_lastLine.elapsed() >= 1000) {
            m_lastLine.start();
            m_linesThisSecond = 0;
        }
        if (m_linesThisSecond < LinesPerSecond) {
            ++m_linesThisSecond;
            logged.start();
            qWarning("modem fence: refused %s%s to %s (pid %d, uid %u)%s", qPrintable(whatText(refusal.what)),
                     device.isEmpty() ? "" : qPrintable(QStringLiteral(" of ") + device),
                     qPrintable(refusal.program), int(refusal.pid), unsigned(refusal.uid),
                     m_linesLeftOut ? qPrintable(QStringLiteral("; %1 more left out").arg(std::exchange(m_linesLeftOut, 0))) : "");
        } else {
            ++m_linesLeftOut;
        }
    }
    if (!refusal.device)
        return;
    QElapsedTimer& told = m_told[refusal.program + u'\n' + device];
    if ((told.isValid() && told.elapsed() < TellEveryMs) || (m_lastTold.isValid() && m_lastTold.elapsed() < AnyTellEveryMs))
        return;
    told.start();
    m_lastTold.start();
    emit blocked(refusal.program, refusal.device);
}
