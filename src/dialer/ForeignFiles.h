#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

// One look at a file another program names, made with that program's file-system ids.
struct ForeignRead {
    QByteArray path; // as root reaches it, through /proc/PID/root or /proc/PID/cwd
    uid_t uid = 0;
    gid_t gid = 0;
    bool identity = false; // the regular file's "DEV:INO", links followed, instead of its bytes
};

// Reads files that other programs name in a short-lived child process: such a read may wait without
// end (a FUSE daemon that never answers), and a blocked thread cannot be stopped where a process can
// be killed. The guard has threads, so the child makes raw system calls only, nothing that allocates:
// it writes what it read into a pipe. At its deadline it is killed and its reads are answered at
// once as timed out; it is reaped whenever it ends (a lookup that waits behind another process's
// lookup of the same name cannot be interrupted). At most MaxChildren live at once, the killed ones
// included; the others wait their turn, and their deadline runs meanwhile.
class ForeignFiles final : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxChildren = 4;
    // A script or an options file is a few lines; a longer one could hide its dial past what is read.
    static constexpr qsizetype MaxFileBytes = 64 * 1024;
    // One answer for each read, in order: nothing for a file that could not be read, is no regular
    // file or is longer than MaxFileBytes. timedOut: the deadline came first, and every answer is
    // nothing.
    using Done = std::function<void(const QList<std::optional<QByteArray>>& answers, bool timedOut)>;

    explicit ForeignFiles(QObject* parent = nullptr);
    ~ForeignFiles() override;
    Q_DISABLE_COPY_MOVE(ForeignFiles)

    // done runs from the event loop, never from within read.
    quint64 read(const QList<ForeignRead>& reads, QDeadlineTimer deadline, Done done);
    // done is not called; a child that runs is killed.
    void cancel(quint64 id);

private:
    struct Job;
    static std::shared_ptr<Job> take(std::vector<std::shared_ptr<Job>>& jobs, const Job* job);
    void startWaiting();
    void start(const std::shared_ptr<Job>& job);
    void drain(Job& job);
    void timeUp(Job* job);
    void onExited(Job* job);

    quint64 m_lastId = 0;
    std::vector<std::shared_ptr<Job>> m_waiting;
    std::vector<std::shared_ptr<Job>> m_running;
};
