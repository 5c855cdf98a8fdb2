#include "modem/ProcessKiller.h"

#include <QTimer>

#include <algorithm>
#include <csignal>

namespace {
constexpr int GraceMs = 1000;
}

ProcessKiller::ProcessKiller(QObject* parent) : QObject(parent) {}

ProcessKiller::~ProcessKiller() {
    // Whatever is still alive when the program goes does not get its second chance.
    for (const auto& batch : m_batches)
        killSurvivors(*batch);
}

void ProcessKiller::terminate(const QList<pid_t>& pids) {
    auto batch = std::make_shared<Batch>();
    for (pid_t pid : pids) {
        Pidfd p(pid);
        if (p.sendSignal(SIGTERM))
            batch->push_back(std::move(p));
    }
    if (batch->empty())
        return;
    m_batches.push_back(batch);
    QTimer::singleShot(GraceMs, this, [this, batch] {
        killSurvivors(*batch);
        m_batches.erase(std::remove(m_batches.begin(), m_batches.end(), batch), m_batches.end());
    });
}

void ProcessKiller::killSurvivors(const Batch& batch) {
    for (const Pidfd& p : batch)
        if (!p.hasExited())
            p.sendSignal(SIGKILL);
}
