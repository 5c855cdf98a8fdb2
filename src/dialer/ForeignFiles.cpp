#include "dialer/ForeignFiles.h"

#include "modem/Pidfd.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the child writes for each read: then length bytes, none when length is -1.
struct Record {
    uint32_t index;
    int32_t length;
};

struct RawRead {
    const char* path;
    uid_t uid;
    gid_t gid;
    bool identity;
};

// ---- the child: raw system calls only, into memory prepared before the fork -------------------

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Digits of n at out; their number.
size_t digits(unsigned long long n, char* out) {
    char reversed[24];
    size_t count = 0;
    do {
        reversed[count++] = char('0' + n % 10);
        n /= 10;
    } while (n > 0);
    for (size_t i = 0; i < count; ++i)
        out[i] = reversed[count - 1 - i];
    return count;
}

bool readAs(uid_t uid, gid_t gid) {
    ::syscall(SYS_setfsuid, 0);
    ::syscall(SYS_setfsgid, gid);
    ::syscall(SYS_setfsuid, uid);
    // Each returns the ids in force before it: the same again means the change took.
    return uid_t(::syscall(SYS_setfsuid, uid)) == uid && gid_t(::syscall(SYS_setfsgid, gid)) == gid;
}

// A regular file's bytes, opened without following a last link and looked at before it is opened:
// a root open of a device node acts on it (a modem raises DTR, a watchdog starts). -1 when it cannot
// be read whole.
ssize_t contents(const char* path, char* buffer, size_t limit) {
    const int at = ::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (at < 0)
        return -1;
    struct stat info {};
    if (::fstat(at, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(at);
        return -1;
    }
    char again[32] = "/proc/self/fd/";
    again[14 + digits(unsigned(at), again + 14)] = '\0';
    const int fd = ::open(again, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    ::close(at);
    if (fd < 0)
        return -1;
    size_t total = 0;
    ssize_t n = 0;
    // One byte past the bound tells a file that is too long from one that just fits.
    while (total <= limit) {
        n = ::read(fd, buffer + total, limit + 1 - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += size_t(n);
    }
    ::close(fd);
    return n < 0 || total > limit ? -1 : ssize_t(total);
}

ssize_t identity(const char* path, char* buffer) {
    struct stat info {};
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    size_t n = digits(info.st_dev, buffer);
    buffer[n++] = ':';
    return ssize_t(n + digits(info.st_ino, buffer + n));
}

[[noreturn]] void child(int out, pid_t parent, const std::vector<RawRead>& reads, char* buffer, size_t limit) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(1);
    // Nothing of the guard's stays open here: no lock, socket or modem outlives it in a hung child.
    if (out != 3 && ::dup2(out, 3) != 3)
        ::_exit(1);
    ::syscall(SYS_close_range, 4U, ~0U, 0U);
    for (size_t i = 0; i < reads.size(); ++i) {
        const RawRead& r = reads[i];
        ssize_t length = -1;
        if (readAs(r.uid, r.gid))
            length = r.identity ? identity(r.path, buffer) : contents(r.path, buffer, limit);
        const Record record{uint32_t(i), int32_t(length)};
        if (!writeAll(3, reinterpret_cast<const char*>(&record), sizeof record) ||
            (length > 0 && !writeAll(3, buffer, size_t(length))))
            ::_exit(1);
    }
    ::_exit(0);
}

} // namespace

struct ForeignFiles::Job {
    quint64 id = 0;
    QList<ForeignRead> reads;
    Done done;
    bool answered = false; // or cancelled: done is called no more
    pid_t pid = 0;
    Pidfd pidfd{0};
    int pipe = -1;
    std::unique_ptr<QSocketNotifier> output;
    std::unique_ptr<QSocketNotifier> exit;
    QTimer deadline;
    QByteArray received;

    ~Job() {
        if (pipe >= 0)
            ::close(pipe);
    }
    void answer(const QList<std::optional<QByteArray>>& answers, bool timedOut) {
        if (!std::exchange(answered, true))
            done(answers, timedOut);
    }
    void unreadable(bool timedOut) { answer(QList<std::optional<QByteArray>>(reads.size()), timedOut); }
};

std::shared_ptr<ForeignFiles::Job> ForeignFiles::take(std::vector<std::shared_ptr<Job>>& jobs, const Job* job) {
    const auto it = std::find_if(jobs.begin(), jobs.end(), [job](const auto& j) { return j.get() == job; });
    if (it == jobs.end())
        return nullptr;
    std::shared_ptr<Job> taken = *it;
    jobs.erase(it);
    return taken;
}

ForeignFiles::ForeignFiles(QObject* parent) : QObject(parent) {}

ForeignFiles::~ForeignFiles() {
    for (const auto& job : m_running)
        ::kill(job->pid, SIGKILL);
    for (const auto& job : m_running) {
        // A killed child ends at once unless it waits behind another's lookup: then init reaps it.
        pollfd p{job->pidfd.fd(), POLLIN, 0};
        if (job->pidfd.isValid() && ::poll(&p, 1, 100) > 0)
            ::waitpid(job->pid, nullptr, WNOHANG);
    }
}

quint64 ForeignFiles::read(const QList<ForeignRead>& reads, QDeadlineTimer deadline, Done done) {
    auto job = std::make_shared<Job>();
    job->id = ++m_lastId;
    job->reads = reads;
    job->done = std::move(done);
    Job* j = job.get();
    job->deadline.setSingleShot(true);
    connect(&job->deadline, &QTimer::timeout, this, [this, j] { timeUp(j); });
    job->deadline.start(int(std::clamp<qint64>(deadline.remainingTime(), 0, 24 * 3600 * 1000)));
    m_waiting.push_back(job);
    QMetaObject::invokeMethod(this, &ForeignFiles::startWaiting, Qt::QueuedConnection);
    return job->id;
}

void ForeignFiles::cancel(quint64 id) {
    const auto matches = [id](const std::shared_ptr<Job>& job) { return job->id == id; };
    m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(), matches), m_waiting.end());
    const auto it = std::find_if(m_running.begin(), m_running.end(), matches);
    if (it == m_running.end())
        return;
    (*it)->answered = true;
    (*it)->deadline.stop();
    ::kill((*it)->pid, SIGKILL);
}

void ForeignFiles::timeUp(Job* j) {
    if (const auto waiting = take(m_waiting, j)) {
        // Its timer is in the middle of its signal: the job goes from the event loop.
        QTimer::singleShot(0, this, [waiting] {});
        waiting->unreadable(true);
        return;
    }
    // Answered now, reaped when it ends.
    ::kill(j->pid, SIGKILL);
    j->unreadable(true);
}

void ForeignFiles::startWaiting() {
    while (!m_waiting.empty() && m_running.size() < size_t(MaxChildren)) {
        const std::shared_ptr<Job> job = m_waiting.front();
        m_waiting.erase(m_waiting.begin());
        start(job);
    }
}

// Runs from the event loop only: a read that cannot start is answered at once.
void ForeignFiles::start(const std::shared_ptr<Job>& job) {
    // Everything the child uses is made here: after the fork it may not allocate.
    std::vector<RawRead> raw;
    raw.reserve(size_t(job->reads.size()));
    for (const ForeignRead& r : std::as_const(job->reads))
        raw.push_back({r.path.constData(), r.uid, r.gid, r.identity});
    std::vector<char> buffer(size_t(MaxFileBytes) + 1);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        qWarning("dial-up: no pipe for reading another program's files: %s", std::strerror(errno));
        job->deadline.stop();
        job->unreadable(false);
        return;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        child(ends[1], parent, raw, buffer.data(), buffer.size() - 1);
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        qWarning("dial-up: cannot start a reader of another program's files: %s", std::strerror(errno));
        job->deadline.stop();
        job->unreadable(false);
        return;
    }
    job->pid = pid;
    // Our own child, unreaped until we wait for it: its pid cannot name another process meanwhile.
    job->pidfd = Pidfd(pid);
    job->pipe = ends[0];
    ::fcntl(job->pipe, F_SETFL, O_NONBLOCK);
    m_running.push_back(job);
    Job* j = job.get();
    job->output = std::make_unique<QSocketNotifier>(job->pipe, QSocketNotifier::Read);
    connect(job->output.get(), &QSocketNotifier::activated, this, [this, j] {
        drain(*j);
        // Without a pidfd (an old kernel) the end of its output tells that it is gone.
        if (!j->pidfd.isValid() && j->pipe < 0)
            onExited(j);
    });
    if (job->pidfd.isValid()) {
        job->exit = std::make_unique<QSocketNotifier>(job->pidfd.fd(), QSocketNotifier::Read);
        connect(job->exit.get(), &QSocketNotifier::activated, this, [this, j] { onExited(j); });
    }
}

void ForeignFiles::drain(Job& job) {
    char chunk[16384];
    while (job.pipe >= 0) {
        const ssize_t n = ::read(job.pipe, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;
        if (n == 0) {
            job.output->setEnabled(false);
            ::close(job.pipe);
            job.pipe = -1;
            return;
        }
        // Never more than one file's bound for each read, and its records.
        if (job.received.size() <= (MaxFileBytes + qsizetype(sizeof(Record))) * job.reads.size())
            job.received.append(chunk, n);
    }
}

void ForeignFiles::onExited(Job* j) {
    const std::shared_ptr<Job> job = take(m_running, j);
    if (!job)
        return;
    if (job->pipe >= 0)
        drain(*job);
    int status = 0;
    const bool reaped = ::waitpid(job->pid, &status, WNOHANG) == job->pid;
    job->deadline.stop();
    // The notifiers are in the middle of their own signals: let them go from the event loop.
    job->output->setEnabled(false);
    job->output.release()->deleteLater();
    if (job->exit) {
        job->exit->setEnabled(false);
        job->exit.release()->deleteLater();
    }
    if (!reaped)
        qWarning("dial-up: the reader of another program's files, pid %d, could not be reaped", int(job->pid));
    startWaiting();
    QList<std::optional<QByteArray>> answers(job->reads.size());
    const bool whole = reaped && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (qsizetype at = 0; whole && at + qsizetype(sizeof(Record)) <= job->received.size();) {
        Record record{};
        std::memcpy(&record, job->received.constData() + at, sizeof record);
        at += sizeof record;
        if (record.index >= uint32_t(answers.size()) || record.length > MaxFileBytes ||
            at + std::max(record.length, 0) > job->received.size())
            break;
        if (record.length >= 0)
            answers[record.index] = job->received.mid(at, record.length);
        at += std::max(record.length, 0);
    }
    job->answer(answers, false);
}
