#include "guard/LogLimit.h"

#include <utility>

#include <pwd.h>
#include <unistd.h>

QString LogLimit::Who(uid_t uid, pid_t pid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    const QString name = ::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found
                             ? QString::fromLocal8Bit(found->pw_name)
                             : QStringLiteral("no such user");
    return pid > 0 ? QStringLiteral("uid %1 (%2, pid %3)").arg(uid).arg(name).arg(pid)
                   : QStringLiteral("uid %1 (%2)").arg(uid).arg(name);
}

void LogLimit::Write(Priority priority, uid_t uid, const char* kind, const QString& line) {
    User& user = users_[{uid, QByteArray(kind)}];
    user.priority = priority;
    if (user.last.isValid() && !user.last.hasExpired(IntervalMs)) {
        ++user.untold;
        return;
    }
    user.last.start();
    const int untold = std::exchange(user.untold, 0);
    GuardLog::Write(priority, untold == 0 ? line
                                          : line + QStringLiteral(" (and %1 more lines of that uid left out)").arg(untold));
}

void LogLimit::Flush() {
    for (auto& [key, user] : users_) {
        if (user.untold > 0)
            GuardLog::Write(user.priority, QStringLiteral("%1 more lines of uid %2 left out: %3")
                      .arg(std::exchange(user.untold, 0))
                      .arg(key.first)
                      .arg(QLatin1String(key.second)));
    }
}
