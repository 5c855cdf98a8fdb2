#pragma once

#include "modem/Pidfd.h"

#include <QList>
#include <QObject>

#include <memory>
#include <vector>

// Ends processes without waiting: SIGTERM now, SIGKILL a second later to whatever ignored it.
class ProcessKiller final : public QObject {
    Q_OBJECT

public:
    explicit ProcessKiller(QObject* parent = nullptr);
    ~ProcessKiller() override;
    Q_DISABLE_COPY_MOVE(ProcessKiller)

    void terminate(const QList<pid_t>& pids);

private:
    using Batch = std::vector<Pidfd>;
    static void killSurvivors(const Batch& batch);

    std::vector<std::shared_ptr<Batch>> m_batches;
};
