#include "platform/ShutdownSignals.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

static sigset_t shutdownSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

void ShutdownSignals::BlockInAllThreads() {
    const sigset_t set = shutdownSet();
    // Threads started later inherit the mask; the signals are then read from the descriptor.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ShutdownSignals::UnblockInChild() {
    const sigset_t set = shutdownSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

ShutdownSignals::ShutdownSignals(QObject* parent) : QObject(parent) {
    BlockInAllThreads();
    const sigset_t set = shutdownSet();
    m_fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (::read(m_fd, &info, sizeof info) == sizeof info)
            emit received(int(info.ssi_signo));
    });
}

ShutdownSignals::~ShutdownSignals() {
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    const sigset_t set = shutdownSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
