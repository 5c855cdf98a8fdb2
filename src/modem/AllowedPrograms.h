#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/types.h>

class QSocketNotifier;

// A file as a running process's executable shows it: what /proc/PID/exe names.
struct FileIdentity {
    dev_t dev = 0; // as stat gives it
    ino_t ino = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct statx;
// The file system's device number as the kernel has it ((major << 20) | minor), for a file statx
// read with STATX_MNT_ID: from the mount's major:minor, which on btrfs and overlayfs is not stat's.
quint32 KernelDeviceOf(const struct statx& info);

// The executable a process runs, from the kernel's own record of it, whatever argv[0] or comm say.
// The file system is not asked (a FUSE daemon that never answers could not stop the look); nothing
// for a process that is gone or a kernel thread.
std::optional<FileIdentity> ExecutableOf(pid_t pid);

// A listed program as the kernel knows it once it runs.
struct ExecutableIdentity {
    QString listed; // the path as it was listed
    QString path;   // every link resolved
    FileIdentity file;
    // The file system's device as the kernel encodes it ((major << 20) | minor, from the mount's
    // major:minor): on btrfs and overlayfs it differs from stat's st_dev.
    quint32 kernelDev = 0;
    bool operator==(const ExecutableIdentity&) const = default;
};

// Programs known by what they run: each listed path resolved through every link to a file, and
// known by its device and inode, so that a copy of it elsewhere or a file mounted over its path is
// another program. A listed path is resolved again when something in its folder changes (an upgrade
// renames a new file over it). Only a file that nobody but root can change is taken: otherwise its
// owner could put another program in its place.
// allows() and programOf() may be called from any thread.
class AllowedPrograms final : public QObject {
    Q_OBJECT

public:
    // names: one for each path, what programOf() tells for it; without names, the listed path.
    // key: how the log names the list ("allow").
    explicit AllowedPrograms(const QStringList& paths, const QStringList& names = {},
                             const QString& key = QStringLiteral("allow"), QObject* parent = nullptr);
    ~AllowedPrograms() override;
    Q_DISABLE_COPY_MOVE(AllowedPrograms)

    QList<ExecutableIdentity> identities() const;
    bool allows(pid_t pid) const { return !programOf(pid).isEmpty(); }
    bool allows(const FileIdentity& file) const { return !programOf(file).isEmpty(); }
    // The name of the listed program the process runs; empty when it runs none of them.
    QString programOf(pid_t pid) const;
    QString programOf(const FileIdentity& file) const;
    // Looks at every listed path again; identitiesChanged when the list differs.
    void resolve();
    // How many looks there were.
    int looks() const { return m_looks; }

signals:
    void identitiesChanged();

private:
    // Nothing when the path names no program it takes, why left empty when it does not exist.
    std::optional<ExecutableIdentity> resolveOne(const QString& listed, QString* why) const;
    void watch(const QStringList& folders);
    void onEvents();

    QStringList m_paths;
    QStringList m_names;
    QString m_key;
    mutable std::mutex m_lock;
    QList<ExecutableIdentity> m_identities;
    QStringList m_told; // what the log said of each path, so that it is said once
    int m_inotify = -1;
    QSocketNotifier* m_notifier = nullptr;
    std::map<QString, int> m_watches; // each folder watched, with its watch
    std::set<int> m_removed;          // watches removed, their IN_IGNORED still to come
    bool m_resolveQueued = false;
    int m_looks = 0;
};
