#include "modem/ProcessExitWatch.h"

#include <QMetaObject>
#include <QSocketNotifier>

ProcessExitWatch::ProcessExitWatch(QObject* parent) : QObject(parent) {}

ProcessExitWatch::~ProcessExitWatch() = default;

void ProcessExitWatch::watch(pid_t pid) {
    if (!isWatching(pid))
        watch(Pidfd(pid));
}

void ProcessExitWatch::watch(Pidfd pidfd) {
    const pid_t pid = pidfd.pid();
    if (isWatching(pid))
        return;
    Watched w{std::move(pidfd), nullptr};
    if (!w.pidfd.isValid()) {
        QMetaObject::invokeMethod(
            this, [this, pid] { emit exited(pid); }, Qt::QueuedConnection);
        return;
    }
    w.notifier = std::make_unique<QSocketNotifier>(w.pidfd.fd(), QSocketNotifier::Read);
    connect(w.notifier.get(), &QSocketNotifier::activated, this, [this, pid] { onReadable(pid); });
    m_watched.emplace(pid, std::move(w));
}

void ProcessExitWatch::clear() {
    m_watched.clear();
}

void ProcessExitWatch::onReadable(pid_t pid) {
    const auto it = m_watched.find(pid);
    if (it == m_watched.end())
        return;
    it->second.notifier->setEnabled(false);
    // The notifier is in the middle of its own signal: let it go from the event loop.
    it->second.notifier.release()->deleteLater();
    m_watched.erase(it);
    emit exited(pid);
}
