#pragma once

#include "modem/KernelFence.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>

class AllowedPrograms;
class ProcessEventWatch;
class QSocketNotifier;
class QTimer;

// The real line's kernel fence as the dial-up component uses it: which devices are fenced (the
// phonebook's modems and every other tty port of the same USB device, kept up to date as devices
// come and go), which processes of allowed programs pass, and what a refusal tells the log and
// the displays.
class ModemFence final : public QObject {
    Q_OBJECT

public:
    // enabled false: "fence=off"; an earlier guard's fence is taken away and none is loaded.
    ModemFence(const QString& runFolder, bool enabled, QObject* parent = nullptr);
    ~ModemFence() override;
    Q_DISABLE_COPY_MOVE(ModemFence)

    // Before the guard starts any process: the guard's cgroup is joined here.
    void start();
    void setModems(const QStringList& modems);
    // A modem's node came, went or was made again: its device number is looked up again.
    void nodesMoved();
    // The allowed programs' processes are let in as the connector sees them start, and their
    // files follow the list's.
    void follow(const AllowedPrograms* allowed, ProcessEventWatch* events);
    QStringList layers() const;
    // "modulo BPF LSM non attivo", "nessun recinto del kernel", "recinto disattivato (fence=off)", or empty.
    QString reducedProtection() const;
    // True for a process of the guard's own cgroup: its pppd, chat and their scripts.
    bool isInside(pid_t pid) const;
    // Takes the fence away now (an administrator's stop).
    void release();

    // The kernel's numbers of the given modems and of their USB siblings; nothing that is not a
    // tty character device or a pty slave.
    static QList<quint32> DevicesOf(const QStringList& modems);

signals:
    void blocked(const QString& program, quint32 device);

private:
    void onRefused(const KernelFence::Refusal& refusal);
    void refresh();
    void onUevents();
    void fenceModems();

    QString m_runFolder;
    bool m_enabled;
    const AllowedPrograms* m_allowed = nullptr;
    QStringList m_modems;
    QHash<QString, QList<quint32>> m_fencedOf; // modem: the numbers it had when last found
    KernelFence* m_fence = nullptr;
    ProcessEventWatch* m_events = nullptr;
    bool m_loaded = false;
    QTimer* m_refresh;
    QTimer* m_attached;
    QElapsedTimer m_lastLine; // all programs together: a user who names many programs floods nothing
    int m_linesThisSecond = 0;
    int m_linesLeftOut = 0;
    QElapsedTimer m_lastTold;
    int m_uevents = -1;
    QSocketNotifier* m_ueventNotifier = nullptr;
    QHash<QString, QElapsedTimer> m_logged; // program: last log line
    QHash<QString, QElapsedTimer> m_told;   // program and device: last word to the displays
};
