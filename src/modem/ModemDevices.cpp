#include "modem/ModemDevices.h"

#include "platform/SystemHelpers.h"
#include "platform/TrustedPath.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr char AclName[] = "system.posix_acl_access";
constexpr mode_t OwnerOnly = 0600;
constexpr qsizetype MaxRecordBytes = 1024 * 1024;

// What an O_PATH descriptor names, as a path the kernel resolves to that very file.
QByteArray linkPath(int fd) {
    return Subs::DescriptorPath(fd);
}

QByteArray aclOf(const QByteArray& path) {
    char buffer[4096];
    const ssize_t n = ::getxattr(path.constData(), AclName, buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

QByteArray realPath(int fd) {
    char target[4096];
    const ssize_t n = ::readlink(linkPath(fd).constData(), target, sizeof target);
    return n > 0 && n < ssize_t(sizeof target) ? QByteArray(target, n) : QByteArray();
}

// What a record names may be a file an older run took for a modem: it gets its owner and mode back.
bool usable(const struct stat& info) {
    return S_ISCHR(info.st_mode) || S_ISREG(info.st_mode);
}

// The majors of the Unix98 pty slaves: devpts nodes, which have no entry in sysfs.
constexpr unsigned FirstPtyMajor = 136;
constexpr unsigned LastPtyMajor = 143;
// /dev/tty, /dev/console and /dev/ptmx: each stands for another terminal, or all of them.
constexpr unsigned AliasMajor = 5;

} // namespace

QString NotAModem(const struct stat& info, const QString& path) {
    if (!S_ISCHR(info.st_mode))
        return path + QStringLiteral(" is no character device");
    const unsigned maj = major(info.st_rdev), min = minor(info.st_rdev);
    if (maj >= FirstPtyMajor && maj <= LastPtyMajor)
        return {};
    if (maj == AliasMajor)
        return path + QStringLiteral(" stands for the terminal of whoever opens it");
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", maj, min);
    char target[PATH_MAX];
    const QString subsystem = ::realpath(link, target) ? QFileInfo(QFile::decodeName(target)).fileName() : QString();
    if (subsystem == QLatin1String("tty"))
        return {};
    return subsystem.isEmpty()
               ? path + QStringLiteral(" is a device of no subsystem, no serial line")
               : path + QStringLiteral(" is a device of the %1 subsystem, no serial line").arg(subsystem);
}

bool ModemNode::matches(const struct stat& info) const {
    return S_ISCHR(info.st_mode) && info.st_rdev == rdev;
}

ModemDevices::ModemDevices(const QString& recordPath, QObject* parent)
    : QObject(parent), m_recordPath(recordPath) {}

ModemDevices::~ModemDevices() {
    giveBack();
}

void ModemDevices::giveBackRecorded() {
    for (const Original& original : readRecord())
        restore(original);
    QFile::remove(m_recordPath);
}

void ModemDevices::close(const QStringList& devices) {
    giveBack();
    // A record left behind is a run that never gave the devices back.
    giveBackRecorded();

    m_devices = devices;
    m_devices.removeDuplicates();
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0) {
        m_notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ModemDevices::onEvents);
        // A USB modem plugged in later, or a node udev gives its attributes again.
        watchFolder("/dev");
        for (const QString& device : m_devices)
            watchFolder(QFile::encodeName(QFileInfo(device).absolutePath()));
    } else {
        qWarning("dial-up: no inotify (%s): a modem device that appears later is not closed",
                 std::strerror(errno));
    }
    apply();
}

void ModemDevices::watchFolder(const QByteArray& folder) {
    if (m_inotify >= 0)
        ::inotify_add_watch(m_inotify, folder.constData(), IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_ONLYDIR);
}

void ModemDevices::giveBack() {
    delete m_notifier;
    m_notifier = nullptr;
    if (m_inotify >= 0)
        ::close(m_inotify);
    m_inotify = -1;
    m_nodeWatches.clear();
    for (const Original& original : m_originals)
        restore(original);
    if (!m_originals.isEmpty())
        QFile::remove(m_recordPath);
    m_originals.clear();
    m_nodes.clear();
    m_devices.clear();
}

void ModemDevices::apply() {
    m_applyQueued = false;
    QList<ModemNode> nodes;
    for (const QString& device : m_devices) {
        ModemNode node;
        if (closeOne(device, node))
            nodes.append(node);
    }
    const auto devices = [](const QList<ModemNode>& list) {
        QList<dev_t> out;
        for (const ModemNode& node : list)
            out << node.rdev;
        return out;
    };
    const bool changed = devices(nodes) != devices(m_nodes);
    m_nodes = nodes;
    if (changed)
        emit nodesChanged();
}

void ModemDevices::refuse(const QString& device, const QString& why) {
    const QString told = device + u'\n' + why;
    if (m_refusedTold.contains(told))
        return;
    m_refusedTold.append(told);
    qWarning("dial-up: the modem %s is left as it is: %s", qPrintable(device), qPrintable(why));
}

bool ModemDevices::closeOne(const QString& device, ModemNode& node) {
    QString why;
    const int fd = Subs::ResolveWithOwnLinks(device, &why);
    if (fd < 0) {
        // Absent is the usual case of a USB modem; a link or a folder another user controls is not.
        if (errno != ENOENT)
            refuse(device, why);
        return false;
    }
    struct stat info {};
    const QByteArray path = linkPath(fd);
    const QByteArray real = realPath(fd);
    if (::fstat(fd, &info) != 0 || real.isEmpty()) {
        ::close(fd);
        return false;
    }
    why = NotAModem(info, QFile::decodeName(real));
    if (!why.isEmpty()) {
        refuse(device, why);
        ::close(fd);
        return false;
    }
    bool ok = true;
    node = {real, info.st_dev, info.st_ino, info.st_rdev};
    const QByteArray acl = aclOf(path);
    const bool open = info.st_uid != 0 || (info.st_mode & 07777) != OwnerOnly || !acl.isEmpty();
    bool known = false;
    for (const Original& o : std::as_const(m_originals))
        known = known || o.path == real;
    if (open && !known) {
        m_originals.append({real, info.st_uid, info.st_gid, mode_t(info.st_mode & 07777), acl});
        // Recorded before it changes: a crash in between must not lose what it was.
        if (!writeRecord())
            qWarning("dial-up: cannot write %s: a crash would leave %s closed",
                     qPrintable(m_recordPath), real.constData());
    }
    // The ACL first: removing it leaves the mode bits, which are set next.
    if (!acl.isEmpty() && ::removexattr(path.constData(), AclName) != 0)
        ok = false;
    if (info.st_uid != 0 && ::fchownat(fd, "", 0, static_cast<gid_t>(-1), AT_EMPTY_PATH) != 0)
        ok = false;
    if ((info.st_mode & 07777) != OwnerOnly && ::chmod(path.constData(), OwnerOnly) != 0)
        ok = false;
    if (!ok)
        qWarning("dial-up: cannot close the modem %s to other users: %s", real.constData(),
                 std::strerror(errno));
    if (m_inotify >= 0) {
        const int wd = ::inotify_add_watch(m_inotify, path.constData(), IN_OPEN);
        if (wd >= 0 && !m_nodeWatches.contains(wd))
            m_nodeWatches.append(wd);
        watchFolder(QFile::encodeName(QFileInfo(QFile::decodeName(real)).absolutePath()));
    }
    ::close(fd);
    return ok;
}

void ModemDevices::onEvents() {
    alignas(inotify_event) char buffer[8192];
    bool someoneOpened = false;
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (m_nodeWatches.contains(event->wd) && (event->mask & IN_OPEN))
                someoneOpened = true;
            else if (event->mask & (IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_Q_OVERFLOW))
                m_applyQueued = true;
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    if (someoneOpened)
        emit opened();
    // Our own changes raise IN_ATTRIB too: the next pass finds nothing left to change.
    if (m_applyQueued)
        QTimer::singleShot(0, this, [this] {
            if (m_applyQueued && m_inotify >= 0)
                apply();
        });
}

QList<ModemDevices::Original> ModemDevices::readRecord() const {
    QList<Original> out;
    const QByteArray content = Subs::ReadSmallFile(QFile::encodeName(m_recordPath).constData(), MaxRecordBytes);
    for (const QByteArray& line : content.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 5)
            continue;
        bool uidOk = false, gidOk = false, modeOk = false;
        Original o{QByteArray::fromHex(f[0]), f[1].toUInt(&uidOk), f[2].toUInt(&gidOk),
                   mode_t(f[3].toUInt(&modeOk, 8)), f[4] == "-" ? QByteArray() : QByteArray::fromHex(f[4])};
        if (uidOk && gidOk && modeOk && o.mode <= 07777 && o.path.startsWith('/'))
            out.append(o);
    }
    return out;
}

bool ModemDevices::writeRecord() const {
    QByteArray content;
    for (const Original& o : m_originals)
        content += o.path.toHex() + '\t' + QByteArray::number(o.uid) + '\t' + QByteArray::number(o.gid) + '\t' +
                   QByteArray::number(o.mode, 8) + '\t' + (o.acl.isEmpty() ? QByteArray("-") : o.acl.toHex()) +
                   '\n';
    QSaveFile file(m_recordPath);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

void ModemDevices::restore(const Original& o) {
    const int fd = Subs::ResolveWithOwnLinks(QFile::decodeName(o.path));
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !usable(info)) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    const QByteArray path = linkPath(fd);
    bool ok = ::fchownat(fd, "", o.uid, o.gid, AT_EMPTY_PATH) == 0 && ::chmod(path.constData(), o.mode) == 0;
    if (!o.acl.isEmpty())
        ok = ::setxattr(path.constData(), AclName, o.acl.constData(), size_t(o.acl.size()), 0) == 0 && ok;
    if (!ok)
        qWarning("dial-up: cannot give the modem %s its owner and mode back: %s", o.path.constData(),
                 std::strerror(errno));
    ::close(fd);
}
