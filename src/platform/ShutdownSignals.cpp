#include "platform/ShutdownSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr int Numbers[] = {SIGTERM, SIGINT, SIGHUP};

// The caught signals' numbers, a byte each: written by the handler, read on the user-interface thread.
int caught[2] = {-1, -1};

sigset_t shutdownSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : Numbers)
        sigaddset(&set, number);
    return set;
}

void onSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    (void)!::write(caught[1], &byte, 1);
    errno = saved;
}

void handleWith(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : Numbers)
        ::sigaction(number, &action, nullptr);
}

bool catching() {
    struct sigaction current {};
    return ::sigaction(SIGTERM, nullptr, &current) == 0 && current.sa_handler == onSignal;
}

} // namespace

void ShutdownSignals::BlockInAllThreads() {
    const sigset_t set = shutdownSet();
    // Threads started later inherit the mask; the signals are then read from the descriptor.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ShutdownSignals::CatchInAllThreads() {
    // Never blocks the handler, whichever thread it interrupts.
    if (caught[0] < 0 && ::pipe2(caught, O_CLOEXEC | O_NONBLOCK) != 0)
        return BlockInAllThreads();
    handleWith(onSignal);
}

void ShutdownSignals::UnblockInChild() {
    const sigset_t set = shutdownSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

ShutdownSignals::ShutdownSignals(QObject* parent) : QObject(parent) {
    if (catching()) {
        m_caught = true;
        m_notifier = std::make_unique<QSocketNotifier>(caught[0], QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            unsigned char number = 0;
            while (::read(caught[0], &number, 1) == 1)
                emit received(number);
        });
        return;
    }
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
    if (m_caught) {
        handleWith(SIG_DFL);
        return;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    const sigset_t set = shutdownSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
