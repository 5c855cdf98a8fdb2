#pragma once

#include "modem/DiallingProcess.h"

#include <QObject>

#include <QList>

#include <atomic>
#include <deque>
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

signals:
    // Emitted from the helper thread; connect with a queued connection.
    void diallingStarted(const DiallingProcess& process);
    // The kernel dropped events (ENOBUFS): whatever started meanwhile must be found by a scan.
    void eventsLost();

private:
    void run();
    void remember(pid_t pid);

    const AllowedPrograms& m_diallers;
    int m_socket = -1;
    int m_wake = -1;
    std::thread m_thread;
    mutable std::mutex m_recentLock;
    std::deque<pid_t> m_recent;
};
