#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

class QSocketNotifier;

// A modem device node as the guard closed it: what an open descriptor of it looks like.
struct ModemNode {
    QByteArray path; // the node itself, links resolved
    dev_t dev = 0;
    ino_t ino = 0;
    dev_t rdev = 0;

    // True when info (an fstat of some descriptor) is this device, under whatever name.
    bool matches(const struct stat& info) const;
};

// Why the file is no modem, or empty when it is one: a character device of the tty subsystem, or a
// pty slave (which has no sysfs entry), but none of /dev/tty, /dev/console and /dev/ptmx.
QString NotAModem(const struct stat& info, const QString& path);

// Keeps other users off the modem: every modem the phonebook names is made owner root, mode 0600,
// no access ACL, while the guard runs. What it was is recorded in a file before it is changed, so
// that shut-down, or the next start after a crash, gives it back. Nothing of the device is held open:
// a held descriptor would keep the tty from the hang-up of its last close.
// Only a modem reached through root's folders and root's links is touched: whatever else a phonebook
// names (a file, another kind of device) is left as it is, and the log says so once.
class ModemDevices final : public QObject {
    Q_OBJECT

public:
    explicit ModemDevices(const QString& recordPath, QObject* parent = nullptr);
    ~ModemDevices() override;
    Q_DISABLE_COPY_MOVE(ModemDevices)

    // Gives back what a record left behind names, then closes these devices and watches for them.
    void close(const QStringList& devices);
    // Gives every recorded device its owner, mode and ACL back and forgets the record.
    void giveBack();
    const QList<ModemNode>& nodes() const { return m_nodes; }
    // Gives back what a record left behind names, with no guard running.
    void giveBackRecorded();

signals:
    // A process opened one of the nodes (inotify tells no pid: the holder must be looked up).
    void opened();
    // A node came, went or changed: whatever follows the modem's device number looks again.
    void nodesChanged();

private:
    struct Original {
        QByteArray path;
        uid_t uid = 0;
        gid_t gid = 0;
        mode_t mode = 0;
        QByteArray acl; // empty: none
    };
    void apply();
    bool closeOne(const QString& device, ModemNode& node);
    void refuse(const QString& device, const QString& why);
    void watchFolder(const QByteArray& folder);
    void onEvents();
    QList<Original> readRecord() const;
    bool writeRecord() const;
    static void restore(const Original& original);

    QString m_recordPath;
    QStringList m_devices;
    QList<ModemNode> m_nodes;
    QList<Original> m_originals;
    QStringList m_refusedTold;
    int m_inotify = -1;
    QSocketNotifier* m_notifier = nullptr;
    QList<int> m_nodeWatches;
    bool m_applyQueued = false;
};
