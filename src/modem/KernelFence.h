#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;
struct bpf_link;
struct bpf_program;
class QTimer;

// The modem fenced in the kernel: BPF programs refuse every process outside the guard's cgroup the
// opens, nodes and descriptors of the fenced devices, root included. The cgroup device program
// loads wherever cgroup v2 is mounted; the LSM programs where the kernel runs BPF LSM. Both stay
// pinned in bpffs when the guard ends, so a killed or restarted guard leaves the modem fenced;
// Release takes them away.
class KernelFence final : public QObject {
    Q_OBJECT

public:
    // A device by the kernel's own number: major in the high 12 bits, minor in the low 20.
    static quint32 DeviceNumber(quint32 major, quint32 minor) { return (major << 20) | minor; }

    enum class What { Open = 1, Mknod, LsmOpen, Receive, Ptrace, Join };
    struct Refusal {
        pid_t pid = 0;
        uid_t uid = 0;
        quint32 device = 0; // 0 for a refusal that is not about a device
        What what = What::Open;
        QString program; // the executable, or the process's name when it is gone
    };
    struct FileId {
        quint32 device = 0; // the file system's number as the kernel has it
        quint64 inode = 0;
        bool operator==(const FileId&) const = default;
    };

    // The guard's own cgroup, made (or, under its service manager, kept) and joined before the
    // guard starts any process, so that its pppd and chat are born inside. Fixed by the run
    // folder: a restarted guard shares it with a pppd that outlived the last one.
    struct Cgroup {
        QString folder;
        QString path; // in the hierarchy, as /proc/PID/cgroup names it
        quint64 id = 0;
    };
    // A process's cgroup in the v2 hierarchy; empty when it is gone.
    static QString CgroupOf(pid_t pid);
    static bool JoinCgroup(const QString& runFolder, Cgroup* cgroup, QString* why);

    // bpffs folder of the pins for a run folder.
    static QString PinFolder(const QString& runFolder);
    // Unpins and detaches a fence left by a guard of that run folder; no guard needed. False with
    // why when something stayed.
    static bool Release(const QString& runFolder, QString* why);
    // The kernel's number of the file system a path is on (from mountinfo: stat's differs on
    // btrfs and overlayfs) and its inode, links followed.
    static bool IdOf(const QString& path, FileId* id);

    explicit KernelFence(const QString& runFolder, QObject* parent = nullptr);
    ~KernelFence() override;
    Q_DISABLE_COPY_MOVE(KernelFence)

    // Loads, attaches and pins, taking over the pins of an earlier guard with no gap between the
    // two; then finds which layers really run. False with why when no layer holds.
    bool start(QString* why);
    bool cgroupLayer() const { return m_cgroupLayer; }
    const Cgroup& cgroup() const { return m_cgroup; }
    bool lsmLayer() const { return m_lsmLayer; }

    // The devices fenced: new ones are added before old ones go.
    void setDevices(const QList<quint32>& devices);
    const QList<quint32>& devices() const { return m_devices; }
    // Processes of allowed programs (the cgroup layer knows no executables), as the kernel has
    // them; and the programs themselves (the LSM layer's rule).
    QList<pid_t> allowedProcesses() const;
    void setAllowedPrograms(const QList<FileId>& programs);
    // Lets a process in or out, at once, from any thread. Valid while the fence is loaded.
    using PidDoor = std::function<void(pid_t pid, bool in)>;
    PidDoor pidDoor() const;
    // Removes the fence now: the pins, the links, the programs.
    void release();
    // Root may detach a link by hand (bpftool link detach): it is attached and pinned again. True
    // when it had to be.
    bool reattachIfDetached();
    // Root may change the maps by hand (bpftool map update): they are set back as the guard wrote
    // them. The names of those that differed.
    QStringList restoreMaps();

signals:
    void refused(const KernelFence::Refusal& refusal);

private:
    struct Bpf;
    bool load(bool withLsm, QString* why);
    bool attachAndPin(QString* why);
    bpf_link* attachDevice(QString* why);
    bool pin(const char* name, bpf_link* link, QString* why);
    bpf_link*& lsmLink(int i);
    bpf_program* lsmProgram(int i);
    bool selfTestCgroup();
    bool selfTestLsm();
    void readReports();

    QString m_runFolder;
    Cgroup m_cgroup;
    std::unique_ptr<Bpf> m_bpf;
    QSocketNotifier* m_notifier = nullptr;
    QList<quint32> m_devices;
    QList<FileId> m_allowedPrograms;
    bool m_cgroupLayer = false;
    bool m_lsmLayer = false;
};

Q_DECLARE_METATYPE(KernelFence::Refusal)
