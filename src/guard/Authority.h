#pragma once

#include "platform/SystemHelpers.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

#include <sys/types.h>

// Who may ask the guard for what. Anyone may watch; root and the members of sudo, wheel, admin and
// dip may dial the default entry and hang up; only administrators may change the setup or stop the
// guard. An administrator other than root must also authenticate as one: polkit is asked about the
// very process that asks (its pid and start time), with its own authentication dialog.
class Authority final {
public:
    // The process on the other end of a connection, as the kernel gave it.
    struct Peer {
        uid_t uid = 0;
        pid_t pid = 0;
        quint64 startTime = 0; // clock ticks after boot, from /proc/PID/stat
    };
    // TooMany: polkit was not asked, since too many questions of the process, or of its user, still
    // run. Unavailable: polkit could not be asked, which says nothing about the user.
    enum class Verdict { Granted, Refused, TimedOut, TooMany, Unavailable };
    struct Answer {
        Verdict verdict = Verdict::Refused;
        // Unavailable: why, as GuardProtocol::Unavailable names it, with pkcheck's exit status or
        // signal where that is all there is to say.
        QLatin1StringView reason{};
        int status = 0;
        // What pkcheck said on its standard error, for the log.
        QString said{};
    };
    using Done = std::function<void(const Answer&)>;
    // Withdraws a question that has not been answered: its answer never comes. Empty once answered.
    using Cancel = std::function<void()>;
    // Calls done once with polkit's answer about the process, unless cancelled first.
    using PolkitCheck = std::function<Cancel(const Peer& peer, Done done)>;

    static constexpr const char* AdminAction = "org.norvale.guard.admin";
    // How long the authentication dialog may wait for the user.
    static constexpr int PkcheckTimeoutMs = 120000;
    // pkcheck processes of one user at once, those given up and not ended yet included. A question
    // that nobody waits for any more (its asker gone, its time up) makes room at once for another:
    // it is killed. So the user's questions that are still waited for, one per display, never fill
    // the room that a flood of given-up ones took.
    static constexpr int MaxPkchecksPerUser = 8;
    // Of one asking process: its question and one given up that is still ending.
    static constexpr int MaxPkchecksPerProcess = 2;

    explicit Authority(Global::GroupLookup groups = Global::GroupNamesOf,
                       PolkitCheck polkit = Pkcheck(PkcheckTimeoutMs, QStringLiteral("pkcheck")));

    // The groups are looked up at every call: a user taken out of a group loses the right at once.
    bool mayDial(uid_t uid) const;
    bool inAdministratorGroup(uid_t uid) const;
    // That user counts as an administrator, polkit unasked: a throw-away guard's, never the system's.
    void trustWithoutPolkit(uid_t uid);
    bool trusts(uid_t uid) const { return uid == trusted_; }
    // Root and the trusted user at once; a member of an administrators' group once polkit agrees;
    // nobody else.
    Cancel confirmAdministrator(const Peer& peer, Done done) const;

    // pkcheck for the process, run without waiting for it. Past the time limit, or when cancelled,
    // it gets SIGTERM, so that polkit withdraws its dialog, and SIGKILL if it is still there later.
    static PolkitCheck Pkcheck(int timeoutMs, const QString& program = QStringLiteral("pkcheck"));
    // pkcheck's ending as an answer: its exit status, or the signal that ended it (crashed), and
    // what it wrote on its standard error.
    static Answer PkcheckAnswer(int code, bool crashed, const QString& said);
    // Start time of a process, 0 when it cannot be read.
    static quint64 StartTimeOf(pid_t pid);

private:
    Global::GroupLookup groups_;
    PolkitCheck polkit_;
    std::optional<uid_t> trusted_;
};
