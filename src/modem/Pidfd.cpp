#include "modem/Pidfd.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

Pidfd::Pidfd(pid_t pid) : m_pid(pid) {
    if (pid > 0)
        m_fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

Pidfd::~Pidfd() {
    if (m_fd >= 0)
        ::close(m_fd);
}

Pidfd::Pidfd(Pidfd&& other) noexcept
    : m_pid(std::exchange(other.m_pid, 0)), m_fd(std::exchange(other.m_fd, -1)) {}

Pidfd& Pidfd::operator=(Pidfd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_pid = std::exchange(other.m_pid, 0);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool Pidfd::hasExited() const {
    if (m_fd < 0)
        return true;
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool Pidfd::sendSignal(int signal) const {
    return m_fd >= 0 && ::syscall(SYS_pidfd_send_signal, m_fd, signal, nullptr, 0) == 0;
}
