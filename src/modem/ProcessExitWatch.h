#pragma once

#include "modem/Pidfd.h"

#include <QObject>

#include <map>
#include <memory>

class QSocketNotifier;

// Tells when watched processes end, any process, not only our children, without polling.
class ProcessExitWatch final : public QObject {
    Q_OBJECT

public:
    explicit ProcessExitWatch(QObject* parent = nullptr);
    ~ProcessExitWatch() override;
    Q_DISABLE_COPY_MOVE(ProcessExitWatch)

    // A process that is already gone is reported as exited from the event loop.
    void watch(pid_t pid);
    // A process already checked through its handle, which cannot have been swapped since.
    void watch(Pidfd pidfd);
    bool isWatching(pid_t pid) const { return m_watched.count(pid) != 0; }
    void clear();

signals:
    void exited(pid_t pid);

private:
    struct Watched {
        Pidfd pidfd;
        std::unique_ptr<QSocketNotifier> notifier;
    };
    void onReadable(pid_t pid);

    std::map<pid_t, Watched> m_watched;
};
