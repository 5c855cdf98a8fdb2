#pragma once

#include "modem/Pidfd.h"

#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <thread>

// When a child process ended, as the kernel reports it rather than when the event loop gets to it;
// the loop runs meanwhile, so that the guard under test does its work. Nothing after 10 s.
inline std::optional<std::chrono::steady_clock::time_point> ExitTime(pid_t pid) {
    Pidfd handle(pid);
    QEventLoop loop;
    std::atomic<bool> gone = false;
    std::chrono::steady_clock::time_point goneAt;
    std::thread watcher([&] {
        pollfd p{handle.fd(), POLLIN, 0};
        if (::poll(&p, 1, 10000) > 0) {
            goneAt = std::chrono::steady_clock::now();
            gone = true;
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    watcher.join();
    ::waitpid(pid, nullptr, 0);
    return gone ? std::optional(goneAt) : std::nullopt;
}
