#include "guard/Authority.h"

#include "platform/ShutdownSignals.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <map>
#include <memory>

namespace {

// After SIGTERM, how long pkcheck may take to end.
constexpr int PkcheckKillMs = 5000;

// The pkcheck processes that run, counted per user. They end with the guard: a question still open
// at its end would leave a root process behind.
struct Pkchecks {
    QObject owner;
    std::map<uid_t, int> running;
    Pkchecks() = default;
    Q_DISABLE_COPY_MOVE(Pkchecks)
    ~Pkchecks() {
        for (QProcess* pkcheck : owner.findChildren<QProcess*>()) {
            pkcheck->disconnect();
            pkcheck->kill();
            pkcheck->waitForFinished(1000);
        }
    }
};

void end(QProcess* pkcheck) {
    if (pkcheck->state() == QProcess::NotRunning)
        return pkcheck->deleteLater();
    pkcheck->terminate();
    QTimer::singleShot(PkcheckKillMs, pkcheck, &QProcess::kill);
}

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

Authority::Cancel Authority::confirmAdministrator(const Peer& peer, std::function<void(Verdict)> done) const {
    if (peer.uid == 0 || peer.uid == trusted_) {
        done(Verdict::Granted);
        return {};
    }
    if (!inAdministratorGroup(peer.uid) || peer.pid <= 0 || peer.startTime == 0) {
        done(Verdict::Refused);
        return {};
    }
    return polkit_(peer, std::move(done));
}

Authority::PolkitCheck Authority::Pkcheck(int timeoutMs) {
    auto pkchecks = std::make_shared<Pkchecks>();
    return [timeoutMs, pkchecks](const Peer& peer, std::function<void(Verdict)> done) -> Cancel {
        // Questions asked and given up at once, over and over, must not fill the process table.
        int& running = pkchecks->running[peer.uid];
        if (running >= MaxPkchecksPerUser) {
            done(Verdict::TooMany);
            return {};
        }
        ++running;
        auto* pkcheck = new QProcess(&pkchecks->owner);
        QObject::connect(pkcheck, &QObject::destroyed, [pkchecks = std::weak_ptr(pkchecks), uid = peer.uid] {
            if (const auto alive = pkchecks.lock())
                --alive->running[uid];
        });
        // The guard's shut-down signals are blocked for its signal descriptor: pkcheck must take them.
        pkcheck->setChildProcessModifier(ShutdownSignals::UnblockInChild);
        pkcheck->setProgram(QStringLiteral("pkcheck"));
        pkcheck->setArguments({QStringLiteral("--action-id"), QLatin1String(AdminAction), QStringLiteral("--process"),
                               QStringLiteral("%1,%2,%3").arg(peer.pid).arg(peer.startTime).arg(peer.uid),
                               QStringLiteral("--allow-user-interaction")});
        pkcheck->setStandardInputFile(QProcess::nullDevice());
        pkcheck->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        pkcheck->setStandardOutputFile(QProcess::nullDevice());
        // Exactly one answer, whether pkcheck ends, never starts or outlasts its time.
        auto answer = std::make_shared<std::function<void(Verdict)>>(std::move(done));
        const auto reply = [answer](Verdict verdict) {
            if (*answer)
                std::exchange(*answer, nullptr)(verdict);
        };
        QObject::connect(pkcheck, &QProcess::finished, pkcheck, [pkcheck, reply](int code, QProcess::ExitStatus status) {
            reply(status == QProcess::NormalExit && code == 0 ? Verdict::Granted : Verdict::Refused);
            pkcheck->deleteLater();
        });
        QObject::connect(pkcheck, &QProcess::errorOccurred, pkcheck, [pkcheck, reply](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            reply(Verdict::Refused);
            pkcheck->deleteLater();
        });
        QTimer::singleShot(timeoutMs, pkcheck, [pkcheck, reply] {
            reply(Verdict::TimedOut);
            end(pkcheck);
        });
        pkcheck->start();
        return [pkcheck = QPointer(pkcheck), answer] {
            *answer = nullptr;
            if (pkcheck)
                end(pkcheck);
        };
    };
}

quint64 Authority::StartTimeOf(pid_t pid) {
    const std::optional<Subs::ProcessStat> stat = Subs::ReadProcessStat(pid);
    return stat ? stat->startTime : 0;
}
