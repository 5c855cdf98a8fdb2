#pragma once

#include "modem/DiallingProcess.h"

#include <QObject>

#include <QList>
#include <QPair>
#include <QSet>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class AllowedPrograms;

// The kernel's process-event connector: every exec on the machine, seen within microseconds.
// A helper thread answers the socket so that no event waits for the user interface; it looks
// only at /proc and hands each dialling program over with a queued signal.
class ProcessEventWatch final : public QObject {
    Q_OBJECT

public:
    // diallers: the real pppd, chat and wvdial; it must outlive the watch.
    explicit ProcessEventWatch(const AllowedPrograms& diallers, QObject* parent = nullptr);
    ~ProcessEventWatch() override;
    Q_DISABLE_COPY_MOVE(ProcessEventWatch)

    // False when the connector cannot be used (it needs CAP_NET_ADMIN).
    bool start();
    void stop();
    bool isRunning() const { return m_socket >= 0; }
    // The processes started or exec'd lately, newest first: where the holder of a modem just opened
    // is looked for before the whole of /proc.
    QList<pid_t> recentPids() const;
    // Programs, by the file they run (device and inode), whose starts and ends are told: the
    // fence lets their processes at the modem. The hook runs on the helper thread, at once, so that
    // a program that opens the modem right after its exec finds the door open.
    using InterestHook = std::function<void(pid_t pid, bool running)>;
    void setProgramsOfInterest(const QList<QPair<quint64, quint64>>& files, InterestHook hook);
    // A process of interest found some other way: its exit, or an exec of another program, is told too.
    void trackInterest(pid_t pid);

signals:
    // Emitted from the helper thread; connect with a queued connection.
    void diallingStarted(const DiallingProcess& process);
    // The kernel dropped events (ENOBUFS): whatever started meanwhile must be found by a scan.
    void eventsLost();

private:
    void run();
    void remember(pid_t pid);
    void lookAtExec(pid_t pid);

    const AllowedPrograms& m_diallers;
    int m_socket = -1;
    int m_wake = -1;
    std::thread m_thread;
    mutable std::mutex m_recentLock;
    std::deque<pid_t> m_recent;
    std::mutex m_interestLock;
    QSet<QPair<quint64, quint64>> m_interest;
    QSet<pid_t> m_interestPids;
    InterestHook m_interestHook;
};
