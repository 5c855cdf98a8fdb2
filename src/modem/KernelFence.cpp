#include "modem/KernelFence.h"

#include "modem/AllowedPrograms.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <linux/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "fence.skel.h"
#include "modem/fence_shared.h"

namespace {

constexpr char BpfRoot[] = "/sys/fs/bpf";
// The system guard's private run folder keeps the plain pin name.
constexpr char DefaultRunFolder[] = "/run/norvale/private";
// A device number no driver registers (majors above 511 are never handed out).
constexpr quint32 ProbeMajor = 4095;
constexpr quint32 ProbeMinor = 1048575;

// Pin names may hold no ".".
constexpr const char* DevicePin = "device";
constexpr const char* LsmPins[] = {"open", "receive", "ptrace"};

QString hashOf(const QString& runFolder) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QFile::encodeName(runFolder), QCryptographicHash::Sha256).toHex().left(12));
}

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isFileSystem(const char* path, long magic) {
    struct statfs info {};
    return ::statfs(path, &info) == 0 && info.f_type == magic;
}

// Fields of /proc/self/mountinfo, split at blanks: mount id, parent, major:minor, root, mount point,
// options, optional fields, "-", type, source, super options.
QList<QByteArrayList> mounts() {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    QList<QByteArrayList> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            lines << line.split(' ');
    return lines;
}

QByteArray fileSystemType(const QByteArrayList& fields) {
    const qsizetype dash = fields.indexOf("-");
    return dash >= 0 && dash + 1 < fields.size() ? fields.at(dash + 1) : QByteArray();
}

// Octal escapes of mountinfo ("\040" for a blank) undone.
QString mountPoint(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            out += char(field.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            out += field.at(i);
        }
    }
    return QFile::decodeName(out);
}

QString cgroup2Root() {
    for (const QByteArrayList& fields : mounts())
        if (fields.size() > 4 && fileSystemType(fields) == "cgroup2" && fields.at(3) == "/")
            return mountPoint(fields.at(4));
    return {};
}


bool writeLine(const QString& path, const QByteArray& text, QString* why) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 || ::write(fd, text.constData(), size_t(text.size())) != text.size()) {
        *why = QStringLiteral("cannot write %1: %2").arg(path, errorText(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

// A pinned link is detached now, whoever else holds it (a pinned map or program just goes); then
// its pin is removed.
bool unpin(const QByteArray& path) {
    const int fd = ::bpf_obj_get(path.constData());
    if (fd >= 0) {
        ::bpf_link_detach(fd);
        ::close(fd);
    }
    return ::unlink(path.constData()) == 0;
}

int quietLibbpf(libbpf_print_level level, const char* format, va_list arguments) {
    if (level != LIBBPF_WARN || !qEnvironmentVariableIsSet("NORVALE_BPF_DEBUG"))
        return 0;
    char text[1024];
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    qWarning("modem fence: libbpf: %s", QByteArray(text).trimmed().constData());
    return length;
}

} // namespace

struct KernelFence::Bpf {
    fence* skeleton = nullptr;
    ring_buffer* reports = nullptr;
    bool withLsm = false;
    fence_config config{};             // as the guard wrote it
    QList<fence_file_id> guardedFiles; // its cgroup's cgroup.procs and cgroup.threads
    ~Bpf() {
        if (reports)
            ring_buffer__free(reports);
        if (skeleton)
            fence::destroy(skeleton);
    }
};

QString KernelFence::PinFolder(const QString& runFolder) {
    const QString name = QDir::cleanPath(runFolder) == QLatin1String(DefaultRunFolder)
                             ? QStringLiteral("norvale-guard")
                             : QStringLiteral("norvale-guard-") + hashOf(QDir::cleanPath(runFolder));
    return QLatin1String(BpfRoot) + u'/' + name;
}

QString KernelFence::CgroupOf(pid_t pid) {
    QFile file(pid ? QStringLiteral("/proc/%1/cgroup").arg(pid) : QStringLiteral("/proc/self/cgroup"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("0::"))
            return QFile::decodeName(line.mid(3));
    return {};
}

bool KernelFence::JoinCgroup(const QString& runFolder, Cgroup* cgroup, QString* why) {
    QString root = cgroup2Root();
    if (root.isEmpty()) {
        // No v2 hierarchy in view: mount one of our own; the kernel has only one.
        const QString folder = runFolder + QStringLiteral("/cgroup2");
        QDir().mkpath(folder);
        if (::mount("cgroup2", QFile::encodeName(folder).constData(), "cgroup2", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                    nullptr) != 0) {
            *why = QStringLiteral("no cgroup v2 hierarchy: %1").arg(errorText(errno));
            return false;
        }
        root = folder;
    }
    const QString own = CgroupOf(0);
    QString path = own;
    if (!own.endsWith(QLatin1String("/norvale-guard.service")))
        path = QStringLiteral("/norvale-guard-") + hashOf(QDir::cleanPath(runFolder));
    const QString folder = root + path;
    if (path != own) {
        const QByteArray path = QFile::encodeName(folder);
        if (::mkdir(path.constData(), 0755) != 0 && errno != EEXIST) {
            *why = QStringLiteral("cannot make the cgroup %1: %2").arg(folder, errorText(errno));
            return false;
        }
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0) {
            *why = QStringLiteral("%1 is no cgroup of root's").arg(folder);
            return false;
        }
        if (!writeLine(folder + QStringLiteral("/cgroup.procs"), QByteArray::number(::getpid()), why))
            return false;
    }
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0) {
        *why = QStringLiteral("cannot read the cgroup %1: %2").arg(folder, errorText(errno));
        return false;
    }
    cgroup->folder = folder;
    cgroup->path = path;
    cgroup->id = info.st_ino;
    return true;
}

bool KernelFence::IdOf(const QString& path, FileId* id) {
    struct statx info {};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_INO | STATX_MNT_ID, &info) != 0)
        return false;
    id->inode = info.stx_ino;
    id->device = KernelDeviceOf(info);
    return true;
}

bool KernelFence::Release(const QString& runFolder, QString* why) {
    const QString folder = PinFolder(runFolder);
    const QDir pins(folder);
    bool released = true;
    for (const QString& name : pins.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        const QByteArray path = QFile::encodeName(pins.filePath(name));
        if (!unpin(path)) {
            *why = QStringLiteral("cannot remove %1: %2").arg(QFile::decodeName(path), errorText(errno));
            released = false;
        }
    }
    if (released && ::rmdir(QFile::encodeName(folder).constData()) != 0 && errno != ENOENT) {
        *why = QStringLiteral("cannot remove %1: %2").arg(folder, errorText(errno));
        released = false;
    }
    // The guard's own cgroup goes once nothing runs in it; a pppd that outlived its guard keeps it.
    const QString root = cgroup2Root();
    if (!root.isEmpty())
        ::rmdir(QFile::encodeName(root + QStringLiteral("/norvale-guard-") + hashOf(QDir::cleanPath(runFolder))).constData());
    return released;
}

KernelFence::KernelFence(const QString& runFolder, QObject* parent)
    : QObject(parent), m_runFolder(QDir::cleanPath(runFolder)) {
    qRegisterMetaType<KernelFence::Refusal>();
}

KernelFence::~KernelFence() = default;

bool KernelFence::load(bool withLsm, QString* why) {
    m_bpf = std::make_unique<Bpf>();
    m_bpf->withLsm = withLsm;
    m_bpf->skeleton = fence::open();
    if (!m_bpf->skeleton) {
        *why = QStringLiteral("cannot open the BPF object: %1").arg(errorText(errno));
        return false;
    }
    fence* s = m_bpf->skeleton;
    for (bpf_program* program : {s->progs.fence_open, s->progs.fence_receive, s->progs.fence_ptrace})
        bpf_program__set_autoload(program, withLsm);
    if (const int error = fence::load(s)) {
        *why = QStringLiteral("the kernel refused the BPF programs: %1").arg(errorText(-error));
        m_bpf.reset();
        return false;
    }
    return true;
}

bool KernelFence::start(QString* why) {
    libbpf_set_print(quietLibbpf);
    if (!isFileSystem(BpfRoot, BPF_FS_MAGIC) &&
        ::mount("bpf", BpfRoot, "bpf", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0700") != 0) {
        *why = QStringLiteral("cannot mount the BPF file system on %1: %2").arg(QLatin1String(BpfRoot), errorText(errno));
        return false;
    }
    if (!JoinCgroup(m_runFolder, &m_cgroup, why))
        return false;
    QString lsmWhy;
    if (!load(true, &lsmWhy) && !load(false, why))
        return false;

    fence* s = m_bpf->skeleton;
    fence_config& config = m_bpf->config; // kept, to set back what root changes by hand
    config.cgroup_id = m_cgroup.id;
    config.guard_tgid = __u32(::getpid());
    config.probe_device = DeviceNumber(ProbeMajor, ProbeMinor);
    const QString probe = m_runFolder + QStringLiteral("/fence-probe");
    QFile(probe).open(QIODevice::WriteOnly);
    FileId probeId;
    if (IdOf(probe, &probeId)) {
        config.probe.dev = probeId.device;
        config.probe.ino = probeId.inode;
    }
    const __u32 zero = 0;
    bpf_map__update_elem(s->maps.config, &zero, sizeof zero, &config, sizeof config, BPF_ANY);
    const __u8 one = 1;
    for (const char* name : {"cgroup.procs", "cgroup.threads"}) {
        FileId id;
        if (!IdOf(m_cgroup.folder + u'/' + QLatin1String(name), &id))
            continue;
        fence_file_id key{id.device, 0, id.inode};
        m_bpf->guardedFiles.append(key);
        bpf_map__update_elem(s->maps.guarded_files, &key, sizeof key, &one, sizeof one, BPF_ANY);
    }
    // The probe's number stays in the map: the self-test's node is refused and counted, never made.
    const __u32 probeDevice = config.probe_device;
    bpf_map__update_elem(s->maps.fenced, &probeDevice, sizeof probeDevice, &one, sizeof one, BPF_ANY);
    for (const quint32 device : std::as_const(m_devices))
        bpf_map__update_elem(s->maps.fenced, &device, sizeof device, &one, sizeof one, BPF_ANY);
    setAllowedPrograms(m_allowedPrograms);
    if (!attachAndPin(why)) {
        m_bpf.reset();
        return false;
    }
    m_cgroupLayer = selfTestCgroup();
    m_lsmLayer = m_bpf->withLsm && selfTestLsm();

    m_bpf->reports = ring_buffer__new(
        bpf_map__fd(s->maps.reports),
        [](void* context, void* data, size_t size) {
            if (size < sizeof(fence_report))
                return 0;
            const auto* r = static_cast<const fence_report*>(data);
            Refusal refusal;
            refusal.pid = pid_t(r->pid);
            refusal.uid = uid_t(r->uid);
            refusal.device = r->dev;
            refusal.what = What(r->what);
            const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(r->pid));
            refusal.program = !exe.isEmpty() ? exe : QString::fromLocal8Bit(r->comm, qstrnlen(r->comm, sizeof r->comm));
            emit static_cast<KernelFence*>(context)->refused(refusal);
            return 0;
        },
        this, nullptr);
    if (m_bpf->reports) {
        m_notifier = new QSocketNotifier(ring_buffer__epoll_fd(m_bpf->reports), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &KernelFence::readReports);
    }
    if (!m_cgroupLayer && !m_lsmLayer) {
        *why = QStringLiteral("the BPF programs loaded but never ran");
        return false;
    }
    return true;
}

// Each link is pinned under a new name, then renamed over the old guard's pin: the old link goes
// only once the new one is attached, so no open slips through between the two.
bool KernelFence::attachAndPin(QString* why) {
    const QString folder = PinFolder(m_runFolder);
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        *why = QStringLiteral("cannot make %1: %2").arg(folder, errorText(errno));
        return false;
    }
    fence* s = m_bpf->skeleton;
    if (!(s->links.fence_device = attachDevice(why)))
        return false;
    QStringList kept{QLatin1String(DevicePin)};
    if (!pin(DevicePin, s->links.fence_device, why))
        return false;
    if (m_bpf->withLsm) {
        for (int i = 0; i < 3; ++i) {
            bpf_link*& link = lsmLink(i);
            link = bpf_program__attach_lsm(lsmProgram(i));
            if (!link)
                continue;
            if (!pin(LsmPins[i], link, why))
                return false;
            kept << QLatin1String(LsmPins[i]);
        }
    }
    // What an earlier guard pinned and this one does not attach goes now.
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::System)) {
        if (kept.contains(name))
            continue;
        unpin(QFile::encodeName(folder + u'/' + name));
    }
    return true;
}

bpf_link* KernelFence::attachDevice(QString* why) {
    const int root = ::open(QFile::encodeName(cgroup2Root().isEmpty() ? m_runFolder + QStringLiteral("/cgroup2")
                                                                      : cgroup2Root())
                                .constData(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        *why = QStringLiteral("cannot open the cgroup v2 root: %1").arg(errorText(errno));
        return nullptr;
    }
    bpf_link* link = bpf_program__attach_cgroup(m_bpf->skeleton->progs.fence_device, root);
    ::close(root);
    if (!link)
        *why = QStringLiteral("cannot attach the device program: %1").arg(errorText(errno));
    return link;
}

// Pinned under a new name first and renamed over the old pin: the old link goes only once the new
// one holds.
bool KernelFence::pin(const char* name, bpf_link* link, QString* why) {
    const QString path = PinFolder(m_runFolder) + u'/' + QLatin1String(name);
    const QByteArray fresh = QFile::encodeName(path + QStringLiteral("_new"));
    ::unlink(fresh.constData());
    if (bpf_link__pin(link, fresh.constData()) != 0 ||
        ::rename(fresh.constData(), QFile::encodeName(path).constData()) != 0) {
        *why = QStringLiteral("cannot pin %1: %2").arg(path, errorText(errno));
        return false;
    }
    return true;
}

bpf_link*& KernelFence::lsmLink(int i) {
    fence* s = m_bpf->skeleton;
    return i == 0 ? s->links.fence_open : i == 1 ? s->links.fence_receive : s->links.fence_ptrace;
}

bpf_program* KernelFence::lsmProgram(int i) {
    fence* s = m_bpf->skeleton;
    return i == 0 ? s->progs.fence_open : i == 1 ? s->progs.fence_receive : s->progs.fence_ptrace;
}

// The device program refuses the probe's number to everyone and counts it: a node made for it
// tells whether the program runs.
bool KernelFence::selfTestCgroup() {
    const QByteArray node = QFile::encodeName(m_runFolder + QStringLiteral("/fence-probe-node"));
    ::unlink(node.constData());
    const int made = ::mknod(node.constData(), S_IFCHR | 0600, makedev(ProbeMajor, ProbeMinor));
    const int error = errno;
    ::unlink(node.constData());
    fence_counts counts{};
    const __u32 zero = 0;
    bpf_map__lookup_elem(m_bpf->skeleton->maps.counts, &zero, sizeof zero, &counts, sizeof counts, 0);
    return made != 0 && error == EPERM && counts.device_probe_hits > 0;
}

// A kernel whose LSM list lacks bpf takes the programs and never runs them: an open must be counted.
bool KernelFence::selfTestLsm() {
    fence* s = m_bpf->skeleton;
    if (!s->links.fence_open)
        return false;
    const __u32 zero = 0;
    fence_counts before{};
    bpf_map__lookup_elem(s->maps.counts, &zero, sizeof zero, &before, sizeof before, 0);
    const int fd = ::open(QFile::encodeName(m_runFolder + QStringLiteral("/fence-probe")).constData(),
                          O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    fence_counts after{};
    bpf_map__lookup_elem(s->maps.counts, &zero, sizeof zero, &after, sizeof after, 0);
    if (after.probe_hits > before.probe_hits)
        return true;
    // Attached but idle: nothing of it stays pinned.
    for (const char* name : LsmPins)
        ::unlink(QFile::encodeName(PinFolder(m_runFolder) + u'/' + QLatin1String(name)).constData());
    for (bpf_link** link : {&s->links.fence_open, &s->links.fence_receive, &s->links.fence_ptrace}) {
        bpf_link__destroy(*link);
        *link = nullptr;
    }
    return false;
}

void KernelFence::setDevices(const QList<quint32>& devices) {
    const QList<quint32> old = std::exchange(m_devices, devices);
    if (!m_bpf)
        return;
    bpf_map* map = m_bpf->skeleton->maps.fenced;
    const __u8 one = 1;
    for (const quint32 device : devices)
        bpf_map__update_elem(map, &device, sizeof device, &one, sizeof one, BPF_ANY);
    for (const quint32 device : old)
        if (!devices.contains(device))
            bpf_map__delete_elem(map, &device, sizeof device, 0);
}

QList<pid_t> KernelFence::allowedProcesses() const {
    QList<pid_t> pids;
    if (!m_bpf)
        return pids;
    const int map = bpf_map__fd(m_bpf->skeleton->maps.allowed_pids);
    __u32 key = 0, next = 0;
    for (__u32* at = nullptr; ::bpf_map_get_next_key(map, at, &next) == 0; at = &key) {
        key = next;
        pids << pid_t(key);
    }
    return pids;
}

KernelFence::PidDoor KernelFence::pidDoor() const {
    if (!m_bpf)
        return [](pid_t, bool) {};
    const int map = bpf_map__fd(m_bpf->skeleton->maps.allowed_pids);
    return [map](pid_t pid, bool in) {
        const __u32 key = __u32(pid);
        const __u8 one = 1;
        if (in)
            ::bpf_map_update_elem(map, &key, &one, BPF_ANY);
        else
            ::bpf_map_delete_elem(map, &key);
    };
}

void KernelFence::setAllowedPrograms(const QList<FileId>& programs) {
    const QList<FileId> old = std::exchange(m_allowedPrograms, programs);
    if (!m_bpf)
        return;
    bpf_map* map = m_bpf->skeleton->maps.allowed_exes;
    const __u8 one = 1;
    for (const FileId& id : programs) {
        fence_file_id key{id.device, 0, id.inode};
        bpf_map__update_elem(map, &key, sizeof key, &one, sizeof one, BPF_ANY);
    }
    for (const FileId& id : old) {
        if (programs.contains(id))
            continue;
        fence_file_id key{id.device, 0, id.inode};
        bpf_map__delete_elem(map, &key, sizeof key, 0);
    }
}

void KernelFence::release() {
    delete std::exchange(m_notifier, nullptr);
    QString why;
    if (!Release(m_runFolder, &why))
        qWarning("modem fence: %s", qPrintable(why));
    m_bpf.reset();
    m_cgroupLayer = m_lsmLayer = false;
}

// Only a link that lost its attachment is made again: the LSM links, which nobody can detach, stay
// as they are (a second link of their program would be refused while the first holds).
bool KernelFence::reattachIfDetached() {
    if (!m_bpf)
        return false;
    const auto detached = [](bpf_link* link) {
        bpf_link_info info{};
        __u32 size = sizeof info;
        // A detached link keeps its descriptor but loses its program's attachment.
        return ::bpf_obj_get_info_by_fd(bpf_link__fd(link), &info, &size) != 0 ||
               (info.type == BPF_LINK_TYPE_CGROUP && info.cgroup.cgroup_id == 0) || info.prog_id == 0;
    };
    bool again = false;
    QString why;
    bpf_link*& device = m_bpf->skeleton->links.fence_device;
    if (device && detached(device)) {
        again = true;
        bpf_link__destroy(std::exchange(device, nullptr));
        if (!(device = attachDevice(&why)) || !pin(DevicePin, device, &why))
            qWarning("modem fence: cannot attach the fence again: %s", qPrintable(why));
    }
    for (int i = 0; i < 3; ++i) {
        bpf_link*& link = lsmLink(i);
        if (!link || !detached(link))
            continue;
        again = true;
        bpf_link__destroy(std::exchange(link, bpf_program__attach_lsm(lsmProgram(i))));
        if (!link || !pin(LsmPins[i], link, &why))
            qWarning("modem fence: cannot attach the fence again: %s", qPrintable(why));
    }
    if (m_lsmLayer && !m_bpf->skeleton->links.fence_open)
        m_lsmLayer = false;
    return again;
}

namespace {

// Makes a set map hold exactly these keys, each with the value 1; true when it did not.
bool holdExactly(bpf_map* map, const QList<QByteArray>& keys) {
    const size_t size = bpf_map__key_size(map);
    bool changed = false;
    QList<QByteArray> found;
    QByteArray key(qsizetype(size), '\0');
    QByteArray next(qsizetype(size), '\0');
    for (const void* at = nullptr; bpf_map__get_next_key(map, at, next.data(), size) == 0; at = key.constData()) {
        key = next;
        key.detach();
        found << key;
    }
    for (const QByteArray& stray : std::as_const(found)) {
        if (!keys.contains(stray)) {
            bpf_map__delete_elem(map, stray.constData(), size, 0);
            changed = true;
        }
    }
    const __u8 one = 1;
    for (const QByteArray& wanted : keys) {
        __u8 value = 0;
        if (bpf_map__lookup_elem(map, wanted.constData(), size, &value, sizeof value, 0) != 0 || value != one) {
            bpf_map__update_elem(map, wanted.constData(), size, &one, sizeof one, BPF_ANY);
            changed = true;
        }
    }
    return changed;
}

template <typename T>
QByteArray bytesOf(const T& value) {
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

QStringList KernelFence::restoreMaps() {
    QStringList changed;
    if (!m_bpf)
        return changed;
    fence* s = m_bpf->skeleton;
    const __u32 zero = 0;
    fence_config config{};
    if (bpf_map__lookup_elem(s->maps.config, &zero, sizeof zero, &config, sizeof config, 0) != 0 ||
        bytesOf(config) != bytesOf(m_bpf->config)) {
        bpf_map__update_elem(s->maps.config, &zero, sizeof zero, &m_bpf->config, sizeof m_bpf->config, BPF_ANY);
        changed << QStringLiteral("config");
    }
    QList<QByteArray> devices{bytesOf(__u32(m_bpf->config.probe_device))};
    for (const quint32 device : std::as_const(m_devices))
        devices << bytesOf(__u32(device));
    if (holdExactly(s->maps.fenced, devices))
        changed << QStringLiteral("fenced");
    QList<QByteArray> programs;
    for (const FileId& id : std::as_const(m_allowedPrograms))
        programs << bytesOf(fence_file_id{id.device, 0, id.inode});
    if (holdExactly(s->maps.allowed_exes, programs))
        changed << QStringLiteral("allowed_exes");
    QList<QByteArray> files;
    for (const fence_file_id& id : std::as_const(m_bpf->guardedFiles))
        files << bytesOf(id);
    if (holdExactly(s->maps.guarded_files, files))
        changed << QStringLiteral("guarded_files");
    return changed;
}

void KernelFence::readReports() {
    if (m_bpf && m_bpf->reports)
        ring_buffer__consume(m_bpf->reports);
}
