#pragma once

#include <sys/types.h>

// A handle on a process that cannot be confused with a later process reusing its pid.
class Pidfd final {
public:
    explicit Pidfd(pid_t pid);
    ~Pidfd();
    Pidfd(Pidfd&& other) noexcept;
    Pidfd& operator=(Pidfd&& other) noexcept;
    Pidfd(const Pidfd&) = delete;
    Pidfd& operator=(const Pidfd&) = delete;

    bool isValid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    pid_t pid() const { return m_pid; }
    // True once the process has ended (or could not be opened at all).
    bool hasExited() const;
    bool sendSignal(int signal) const;

private:
    pid_t m_pid = 0;
    int m_fd = -1;
};
