#include "guard/Authority.h"

#include "guard/GuardProtocol.h"
#include "platform/ShutdownSignals.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <list>
#include <memory>
#include <utility>

namespace {

// After SIGTERM, how long pkcheck may take to end.
constexpr int PkcheckKillMs = 5000;
// What pkcheck says is a line or two; more is not kept for the log.
constexpr qsizetype MaxSaidBytes = 1024;

// The pkcheck processes that run, the oldest first. They end with the guard: a question still open
// at its end would leave a root process behind.
struct Pkchecks {
    struct Question {
        QProcess* pkcheck = nullptr;
        Authority::Peer asker;
        // Its answer is no longer awaited; it has had SIGTERM.
        bool givenUp = false;
    };
    QObject owner;
    std::list<Question> running;
    Pkchecks() = default;
    Q_DISABLE_COPY_MOVE(Pkchecks)
    ~Pkchecks() {
        for (QProcess* pkcheck : owner.findChildren<QProcess*>()) {
            pkcheck->disconnect();
            pkcheck->kill();
            pkcheck->waitForFinished(1000);
        }
    }

    // Room for one more question of the asker: none while the process has its share running, or
    // while all of its user's are still awaited. Questions of the user that were given up are
    // killed, the oldest first, to make room.
    bool makeRoom(const Authority::Peer& asker) {
        int ofProcess = 0;
        int ofUser = 0;
        for (const Question& question : running) {
            if (question.asker.uid != asker.uid)
                continue;
            ++ofUser;
            ofProcess +=
                question.asker.pid == asker.pid && question.asker.startTime == asker.startTime ? 1 : 0;
        }
        if (ofProcess >= Authority::MaxPkchecksPerProcess)
            return false;
        for (auto it = running.begin(); ofUser >= Authority::MaxPkchecksPerUser && it != running.end();) {
            if (it->asker.uid != asker.uid || !it->givenUp) {
                ++it;
                continue;
            }
            QProcess* pkcheck = std::exchange(it->pkcheck, nullptr);
            it = running.erase(it);
            --ofUser;
            pkcheck->kill();
        }
        return ofUser < Authority::MaxPkchecksPerUser;
    }

    void forget(QObject* pkcheck) {
        running.remove_if([pkcheck](const Question& question) { return question.pkcheck == pkcheck; });
    }

    // SIGTERM, so that polkit withdraws its dialog, and SIGKILL if it is still there later.
    void end(QProcess* pkcheck) {
        if (pkcheck->state() == QProcess::NotRunning) {
            forget(pkcheck);
            return pkcheck->deleteLater();
        }
        for (Question& question : running) {
            if (question.pkcheck == pkcheck)
                question.givenUp = true;
        }
        pkcheck->terminate();
        QTimer::singleShot(PkcheckKillMs, pkcheck, &QProcess::kill);
    }
};

} // namespace

Authority::Authority(Global::GroupLookup groups, PolkitCheck polkit)
    : groups_(std::move(groups)), polkit_(std::move(polkit)) {}

bool Authority::mayDial(uid_t uid) const {
    if (inAdministratorGroup(uid))
        return true;
    // dip is the group that may dial on Debian.
    const std::optional<QStringList> names = groups_(uid);
    return names && names->contains(QLatin1String("dip"));
}

bool Authority::inAdministratorGroup(uid_t uid) const {
    return uid == trusted_ || Global::UserIsAdministrator(uid, groups_);
}

void Authority::trustWithoutPolkit(uid_t uid) {
    trusted_ = uid;
}

Authority::Cancel Authority::confirmAdministrator(const Peer& peer, Done done) const {
    if (peer.uid == 0 || peer.uid == trusted_) {
        done({.verdict = Verdict::Granted});
        return {};
    }
    if (!inAdministratorGroup(peer.uid) || peer.pid <= 0 || peer.startTime == 0) {
        done({.verdict = Verdict::Refused});
        return {};
    }
    return polkit_(peer, std::move(done));
}

// pkcheck(1): 0 authorised, 1 not authorised, 2 no agent to ask the user, 3 the user dismissed the
// dialog, 126 bad options or no authority to ask, 127 the authority gave no answer.
Authority::Answer Authority::PkcheckAnswer(int code, bool crashed, const QString& said) {
    namespace U = GuardProtocol::Unavailable;
    if (crashed)
        return {.verdict = Verdict::Unavailable, .reason = U::Signal, .status = code, .said = said};
    switch (code) {
    case 0:
        return {.verdict = Verdict::Granted};
    case 1:
    case 3:
        return {.verdict = Verdict::Refused, .status = code, .said = said};
    case 2:
        return {.verdict = Verdict::Unavailable, .reason = U::NoAgent, .status = code, .said = said};
    case 127:
        return {.verdict = Verdict::Unavailable, .reason = U::NoPolkit, .status = code, .said = said};
    default:
        break;
    }
    if (code == 126 && said.contains(QLatin1String("Error getting authority")))
        return {.verdict = Verdict::Unavailable, .reason = U::NoPolkit, .status = code, .said = said};
    return {.verdict = Verdict::Unavailable, .reason = U::Status, .status = code, .said = said};
}

Authority::PolkitCheck Authority::Pkcheck(int timeoutMs, const QString& program) {
    auto pkchecks = std::make_shared<Pkchecks>();
    return [timeoutMs, program, pkchecks](const Peer& peer, Done done) -> Cancel {
        // Questions asked and given up at once, over and over, must not fill the process table;
        // nor may one program's flood keep another display of the same user from asking.
        if (!pkchecks->makeRoom(peer)) {
            done({.verdict = Verdict::TooMany});
            return {};
        }
        auto* pkcheck = new QProcess(&pkchecks->owner);
        pkchecks->running.push_back({.pkcheck = pkcheck, .asker = peer});
        QObject::connect(pkcheck, &QObject::destroyed, [pkchecks = std::weak_ptr(pkchecks), pkcheck] {
            if (const auto alive = pkchecks.lock())
                alive->forget(pkcheck);
        });
        // The guard's shut-down signals are blocked for its signal descriptor: pkcheck must take them.
        pkcheck->setChildProcessModifier(ShutdownSignals::UnblockInChild);
        pkcheck->setProgram(program);
        pkcheck->setArguments({QStringLiteral("--action-id"), QLatin1String(AdminAction), QStringLiteral("--process"),
                               QStringLiteral("%1,%2,%3").arg(peer.pid).arg(peer.startTime).arg(peer.uid),
                               QStringLiteral("--allow-user-interaction")});
        pkcheck->setStandardInputFile(QProcess::nullDevice());
        // What it says goes into the guard's own line about the answer, not beside it.
        pkcheck->setStandardOutputFile(QProcess::nullDevice());
        // Exactly one answer, whether pkcheck ends, never starts or outlasts its time.
        auto answer = std::make_shared<Done>(std::move(done));
        const auto reply = [answer](const Answer& given) {
            if (*answer)
                std::exchange(*answer, nullptr)(given);
        };
        QObject::connect(pkcheck, &QProcess::finished, pkcheck, [pkcheck, reply](int code, QProcess::ExitStatus status) {
            const QString said = QString::fromLocal8Bit(pkcheck->readAllStandardError().left(MaxSaidBytes));
            reply(PkcheckAnswer(code, status != QProcess::NormalExit, said.trimmed()));
            pkcheck->deleteLater();
        });
        QObject::connect(pkcheck, &QProcess::errorOccurred, pkcheck, [pkcheck, reply](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            reply({.verdict = Verdict::Unavailable,
                   .reason = GuardProtocol::Unavailable::NoPkcheck,
                   .said = pkcheck->errorString()});
            pkcheck->deleteLater();
        });
        QTimer::singleShot(timeoutMs, pkcheck, [pkcheck, reply, pkchecks = pkchecks.get()] {
            reply({.verdict = Verdict::TimedOut});
            pkchecks->end(pkcheck);
        });
        pkcheck->start();
        return [pkcheck = QPointer(pkcheck), answer, pkchecks = std::weak_ptr(pkchecks)] {
            *answer = nullptr;
            const auto alive = pkchecks.lock();
            if (pkcheck && alive)
                alive->end(pkcheck);
        };
    };
}

quint64 Authority::StartTimeOf(pid_t pid) {
    const std::optional<Subs::ProcessStat> stat = Subs::ReadProcessStat(pid);
    return stat ? stat->startTime : 0;
}
