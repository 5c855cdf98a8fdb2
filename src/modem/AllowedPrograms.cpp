#include "modem/AllowedPrograms.h"

#include "platform/TrustedPath.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr uint32_t FolderEvents =
    IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The kernel's new_encode, as the BPF side sees s_dev.
quint32 kernelEncode(unsigned major, unsigned minor) {
    return (quint32(major) << 20) | (quint32(minor) & 0xfffff);
}

// The major:minor that /proc/self/mountinfo gives the mount, which is the super block's s_dev.
std::optional<quint32> mountDevice(quint64 mountId) {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray id = QByteArray::number(mountId);
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() < 3 || f.at(0) != id)
            continue;
        const QList<QByteArray> numbers = f.at(2).split(':');
        bool majorOk = false, minorOk = false;
        const unsigned major = numbers.value(0).toUInt(&majorOk);
        const unsigned minor = numbers.value(1).toUInt(&minorOk);
        if (numbers.size() == 2 && majorOk && minorOk)
            return kernelEncode(major, minor);
    }
    return std::nullopt;
}

} // namespace

quint32 KernelDeviceOf(const struct statx& info) {
    const auto mounted = (info.stx_mask & STATX_MNT_ID) ? mountDevice(info.stx_mnt_id) : std::nullopt;
    return mounted.value_or(kernelEncode(info.stx_dev_major, info.stx_dev_minor));
}

std::optional<FileIdentity> ExecutableOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/exe", static_cast<int>(pid));
    struct statx info {};
    if (pid <= 0 || ::statx(AT_FDCWD, path, AT_STATX_DONT_SYNC, STATX_TYPE | STATX_INO, &info) != 0 ||
        !S_ISREG(info.stx_mode))
        return std::nullopt;
    return FileIdentity{makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_ino};
}

AllowedPrograms::AllowedPrograms(const QStringList& paths, const QStringList& names, const QString& key,
                                 QObject* parent)
    : QObject(parent), m_key(key) {
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (m_paths.contains(paths.at(i)))
            continue;
        m_paths.append(paths.at(i));
        m_names.append(names.size() == paths.size() ? names.at(i) : paths.at(i));
        m_told.append(QString());
    }
    if (!m_paths.isEmpty()) {
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify >= 0) {
            m_notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &AllowedPrograms::onEvents);
        } else {
            qWarning("dial-up: no inotify (%s): a program listed in %s= and replaced later is not looked at "
                     "again",
                     std::strerror(errno), qPrintable(m_key));
        }
    }
    resolve();
}

AllowedPrograms::~AllowedPrograms() {
    if (m_inotify >= 0)
        ::close(m_inotify);
}

QList<ExecutableIdentity> AllowedPrograms::identities() const {
    std::lock_guard lock(m_lock);
    return m_identities;
}

QString AllowedPrograms::programOf(pid_t pid) const {
    const auto file = ExecutableOf(pid);
    return file ? programOf(*file) : QString();
}

QString AllowedPrograms::programOf(const FileIdentity& file) const {
    std::lock_guard lock(m_lock);
    for (const ExecutableIdentity& identity : m_identities)
        if (identity.file == file)
            return m_names.value(m_paths.indexOf(identity.listed));
    return {};
}

std::optional<ExecutableIdentity> AllowedPrograms::resolveOne(const QString& listed, QString* why) const {
    char real[PATH_MAX];
    if (!::realpath(QFile::encodeName(listed).constData(), real)) {
        *why = errno == ENOENT ? QString() : QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    const QString path = QFile::decodeName(real);
    // A user who could change the file or a folder on its way could put any program there.
    QString unsafe;
    if (!Subs::OnlyOwnersCanChange(path, &unsafe)) {
        *why = unsafe;
        return std::nullopt;
    }
    struct statx info {};
    if (::statx(AT_FDCWD, real, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO | STATX_MNT_ID, &info) != 0) {
        *why = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(info.stx_mode)) {
        *why = path + QStringLiteral(" is no regular file");
        return std::nullopt;
    }
    // A file bind-mounted over the path is not the program the path was listed for.
    if (info.stx_attributes_mask & info.stx_attributes & STATX_ATTR_MOUNT_ROOT) {
        *why = path + QStringLiteral(" is a file mounted over its path");
        return std::nullopt;
    }
    ExecutableIdentity identity{listed, path, {makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_ino}, 0};
    identity.kernelDev = KernelDeviceOf(info);
    return identity;
}

void AllowedPrograms::resolve() {
    m_resolveQueued = false;
    ++m_looks;
    QList<ExecutableIdentity> found;
    QStringList folders;
    for (qsizetype i = 0; i < m_paths.size(); ++i) {
        const QString& listed = m_paths.at(i);
        QString why;
        const auto identity = resolveOne(listed, &why);
        folders << QFileInfo(listed).absolutePath();
        QString told;
        if (identity) {
            found.append(*identity);
            folders << QFileInfo(identity->path).absolutePath();
            told = QStringLiteral("%1=%2 is %3, inode %4 on device %5:%6")
                       .arg(m_key, listed, identity->path)
                       .arg(identity->file.ino)
                       .arg(identity->kernelDev >> 20)
                       .arg(identity->kernelDev & 0xfffff);
        } else if (why.isEmpty()) {
            told = QStringLiteral("%1=%2 does not exist: no program is known by it").arg(m_key, listed);
        } else {
            told = QStringLiteral("%1=%2 is not taken: %3").arg(m_key, listed, why);
        }
        // What is refused is said once, and again each time it changes; a program found, when it is
        // found again (an upgrade replaced it).
        if (told != m_told.at(i) && (!identity || !m_told.at(i).isEmpty())) {
            if (identity || why.isEmpty())
                qInfo("dial-up: %s", qPrintable(told));
            else
                qWarning("dial-up: %s", qPrintable(told));
        }
        m_told[i] = told;
    }
    folders.removeDuplicates();
    watch(folders);
    {
        std::lock_guard lock(m_lock);
        if (found == m_identities)
            return;
        m_identities = found;
    }
    emit identitiesChanged();
}

// Only what changed: every watch removed queues an IN_IGNORED, which must not start another look (a
// look that removed and added every watch again would run for ever after a single event).
void AllowedPrograms::watch(const QStringList& folders) {
    if (m_inotify < 0)
        return;
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (folders.contains(it->first)) {
            ++it;
            continue;
        }
        const int wd = it->second;
        it = m_watches.erase(it);
        // Two names of one folder share its watch.
        if (std::none_of(m_watches.begin(), m_watches.end(), [wd](const auto& kept) { return kept.second == wd; }) &&
            ::inotify_rm_watch(m_inotify, wd) == 0)
            m_removed.insert(wd);
    }
    for (const QString& folder : folders) {
        if (m_watches.count(folder))
            continue;
        const int wd = ::inotify_add_watch(m_inotify, QFile::encodeName(folder).constData(), FolderEvents);
        if (wd >= 0)
            m_watches[folder] = wd;
    }
}

void AllowedPrograms::onEvents() {
    alignas(inotify_event) char buffer[8192];
    bool changed = false;
    for (ssize_t n; (n = ::read(m_inotify, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (!(event->mask & IN_IGNORED)) {
                changed = true;
                continue;
            }
            if (m_removed.erase(event->wd))
                continue;
            // The kernel dropped the watch (its folder went): the next look adds it again.
            std::erase_if(m_watches, [event](const auto& kept) { return kept.second == event->wd; });
            changed = true;
        }
    }
    // A package upgrade changes many names of the folder at once: one look for them all.
    if (!changed || m_resolveQueued)
        return;
    m_resolveQueued = true;
    QTimer::singleShot(0, this, [this] {
        if (m_resolveQueued)
            resolve();
    });
}
