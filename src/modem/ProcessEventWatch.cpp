#include "modem/ProcessEventWatch.h"

#include "modem/AllowedPrograms.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t RecentKept = 256;

bool sendControl(int socket, proc_cn_mcast_op op) {
    char buffer[NLMSG_SPACE(sizeof(cn_msg) + sizeof op)] = {};
    auto* header = reinterpret_cast<nlmsghdr*>(buffer);
    header->nlmsg_len = NLMSG_LENGTH(sizeof(cn_msg) + sizeof op);
    header->nlmsg_type = NLMSG_DONE;
    auto* message = static_cast<cn_msg*>(NLMSG_DATA(header));
    message->id.idx = CN_IDX_PROC;
    message->id.val = CN_VAL_PROC;
    message->len = sizeof op;
    std::memcpy(message->data, &op, sizeof op);
    return ::send(socket, buffer, header->nlmsg_len, 0) == static_cast<ssize_t>(header->nlmsg_len);
}

} // namespace

ProcessEventWatch::ProcessEventWatch(const AllowedPrograms& diallers, QObject* parent)
    : QObject(parent), m_diallers(diallers) {
    qRegisterMetaType<DiallingProcess>();
}

ProcessEventWatch::~ProcessEventWatch() {
    stop();
}

bool ProcessEventWatch::start() {
    if (m_socket >= 0)
        return true;
    const int s = ::socket(PF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_CONNECTOR);
    if (s < 0)
        return false;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = CN_IDX_PROC;
    address.nl_pid = 0;
    // A large buffer rides out bursts of execs (a build on the same machine); the forced size
    // needs privilege, which the connector needs anyway.
    const int buffer = 4 * 1024 * 1024;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !sendControl(s, PROC_CN_MCAST_LISTEN)) {
        ::close(s);
        return false;
    }
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0) {
        ::close(s);
        return false;
    }
    m_socket = s;
    m_thread = std::thread([this] { run(); });
    return true;
}

void ProcessEventWatch::stop() {
    if (m_socket < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    sendControl(m_socket, PROC_CN_MCAST_IGNORE);
    ::close(m_socket);
    ::close(m_wake);
    m_socket = -1;
    m_wake = -1;
}

QList<pid_t> ProcessEventWatch::recentPids() const {
    std::lock_guard lock(m_recentLock);
    return QList<pid_t>(m_recent.crbegin(), m_recent.crend());
}

void ProcessEventWatch::trackInterest(pid_t pid) {
    std::lock_guard lock(m_interestLock);
    m_interestPids.insert(pid);
}

// A process of interest that execs another program is one no more.
void ProcessEventWatch::lookAtExec(pid_t pid) {
    std::lock_guard lock(m_interestLock);
    if (!m_interestHook)
        return;
    const std::optional<FileIdentity> file = ExecutableOf(pid);
    const bool wanted = file && m_interest.contains({quint64(file->dev), quint64(file->ino)});
    if (wanted) {
        m_interestPids.insert(pid);
        m_interestHook(pid, true);
    } else if (m_interestPids.remove(pid)) {
        m_interestHook(pid, false);
    }
}

void ProcessEventWatch::remember(pid_t pid) {
    std::lock_guard lock(m_recentLock);
    if (!m_recent.empty() && m_recent.back() == pid)
        return;
    m_recent.push_back(pid);
    if (m_recent.size() > RecentKept)
        m_recent.pop_front();
}

void ProcessEventWatch::setProgramsOfInterest(const QList<QPair<quint64, quint64>>& files, InterestHook hook) {
    std::lock_guard lock(m_interestLock);
    m_interest = QSet<QPair<quint64, quint64>>(files.begin(), files.end());
    m_interestHook = std::move(hook);
    if (!m_interestHook)
        m_interestPids.clear();
}

void ProcessEventWatch::run() {
    alignas(nlmsghdr) char buffer[8192];
    pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == ENOBUFS)
                emit eventsLost();
            else if (errno != EINTR && errno != EAGAIN)
                return;
            continue;
        }
        int length = static_cast<int>(n);
        // NLMSG_OK compares the signed length with the header's unsigned one; clang warns inside it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, length); h = NLMSG_NEXT(h, length)) {
#pragma GCC diagnostic pop
            if (h->nlmsg_type == NLMSG_ERROR || h->nlmsg_type == NLMSG_NOOP)
                continue;
            if (NLMSG_PAYLOAD(h, 0) < sizeof(cn_msg))
                continue;
            const auto* message = static_cast<const cn_msg*>(NLMSG_DATA(h));
            if (message->id.idx != CN_IDX_PROC || message->id.val != CN_VAL_PROC)
                continue;
            // The event follows a 20-byte header, so its 64-bit fields are not aligned: copy it out.
            proc_event event{};
            std::memcpy(&event, message->data,
                        std::min({sizeof event, size_t(message->len), NLMSG_PAYLOAD(h, 0) - sizeof(cn_msg)}));
            if (event.what == proc_event::PROC_EVENT_FORK)
                remember(event.event_data.fork.child_tgid);
            if (event.what == proc_event::PROC_EVENT_EXIT &&
                event.event_data.exit.process_pid == event.event_data.exit.process_tgid) {
                std::lock_guard lock(m_interestLock);
                if (m_interestPids.remove(pid_t(event.event_data.exit.process_tgid)) && m_interestHook)
                    m_interestHook(pid_t(event.event_data.exit.process_tgid), false);
            }
            if (event.what != proc_event::PROC_EVENT_EXEC)
                continue;
            const pid_t tgid = pid_t(event.event_data.exec.process_tgid);
            remember(tgid);
            lookAtExec(tgid);
            // Only the thread-group leader has a /proc entry of its own.
            if (auto p = DiallingProcess::inspect(event.event_data.exec.process_tgid, m_diallers))
                emit diallingStarted(*p);
        }
    }
}
