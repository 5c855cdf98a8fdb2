#pragma once

#include "modem/ModemDevices.h"
#include "modem/Pidfd.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>
#include <vector>

// The steps that reach the modem line and the processes. Tests replace them: a pty has no DTR, and
// a reused pid cannot be made at will.
class LineSeam {
public:
    virtual ~LineSeam() = default;
    // The node opened without blocking and without becoming anyone's terminal; -1 when it cannot be.
    virtual int openLine(const QByteArray& node);
    virtual bool flushOutput(int fd);
    virtual bool dropDtr(int fd);
    virtual void closeLine(int fd);
    virtual Pidfd take(pid_t pid);
    virtual std::optional<quint64> startTime(pid_t pid);
    virtual bool signal(const Pidfd& process, int signal);
};

// A process of another program's call, as it was when it was found.
struct CallProcess {
    pid_t pid = 0;
    quint64 startTime = 0;
    bool heldModem = false;
    bool gentle = false; // pppd: SIGTERM first, so that it gives the tty back and ends its chat
};

// The node one of the process's descriptors is, or empty.
QByteArray HeldModem(pid_t pid, const QList<ModemNode>& nodes);
inline bool HoldsModem(pid_t pid, const QList<ModemNode>& nodes) {
    return !HeldModem(pid, nodes).isEmpty();
}

// Ends another program's call: the modem's pending output thrown away and DTR dropped for a second,
// then each process signalled through a handle taken before it is checked again, so that a pid
// reused meanwhile is never hit. SIGKILL at once, or a second after SIGTERM for a gentle one.
class CallEnder final : public QObject {
    Q_OBJECT

public:
    explicit CallEnder(std::unique_ptr<LineSeam> seam = nullptr, QObject* parent = nullptr);
    ~CallEnder() override;
    Q_DISABLE_COPY_MOVE(CallEnder)

    // The nodes are dropped before any process is signalled.
    void end(const QList<ModemNode>& nodes, const QList<CallProcess>& processes);

private:
    using Batch = std::vector<Pidfd>;
    std::unique_ptr<LineSeam> m_seam;
    std::vector<std::shared_ptr<Batch>> m_batches;
    std::vector<int> m_held; // lines held with DTR down
};
