#include "guard/Authority.h"

#include <QProcess>

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
    return Global::UserIsAdministrator(uid, groups_);
}

void Authority::confirmAdministrator(const Peer& peer, std::function<void(bool)> done) const {
    if (peer.uid == 0) {
        done(true);
        return;
    }
    if (!inAdministratorGroup(peer.uid) || peer.pid <= 0 || peer.startTime == 0) {
        done(false);
        return;
    }
    polkit_(peer, std::move(done));
}

void Authority::RunPkcheck(const Peer& peer, std::function<void(bool)> done) {
    auto* pkcheck = new QProcess();
    pkcheck->setProgram(QStringLiteral("pkcheck"));
    pkcheck->setArguments({QStringLiteral("--action-id"), QLatin1String(AdminAction), QStringLiteral("--process"),
                           QStringLiteral("%1,%2,%3").arg(peer.pid).arg(peer.startTime).arg(peer.uid),
                           QStringLiteral("--allow-user-interaction")});
    pkcheck->setStandardInputFile(QProcess::nullDevice());
    pkcheck->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    pkcheck->setStandardOutputFile(QProcess::nullDevice());
    // Exactly one answer, whether pkcheck ends or never starts.
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto reply = [pkcheck, answer](bool granted) {
        if (*answer) {
            const auto callback = std::exchange(*answer, nullptr);
            callback(granted);
        }
        pkcheck->deleteLater();
    };
    QObject::connect(pkcheck, &QProcess::finished, pkcheck, [reply](int code, QProcess::ExitStatus status) {
        reply(status == QProcess::NormalExit && code == 0);
    });
    QObject::connect(pkcheck, &QProcess::errorOccurred, pkcheck, [reply](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            reply(false);
    });
    pkcheck->start();
}

quint64 Authority::StartTimeOf(pid_t pid) {
    const std::optional<Subs::ProcessStat> stat = Subs::ReadProcessStat(pid);
    return stat ? stat->startTime : 0;
}
