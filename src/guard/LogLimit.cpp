#include "guard/LogLimit.h"

#include <cstdio>
#include <utility>

void LogLimit::Write(const QString& line) {
    std::fprintf(stderr, "norvale-guard: %s\n", qPrintable(line));
    std::fflush(stderr);
}

void LogLimit::Write(uid_t uid, const char* kind, const QString& line) {
    User& user = users_[{uid, QByteArray(kind)}];
    if (user.last.isValid() && !user.last.hasExpired(IntervalMs)) {
        ++user.untold;
        return;
    }
    user.last.start();
    const int untold = std::exchange(user.untold, 0);
    Write(untold == 0 ? line : line + QStringLiteral(" (and %1 more lines of that uid left out)").arg(untold));
}

void LogLimit::Flush() {
    for (auto& [key, user] : users_) {
        if (user.untold > 0)
            Write(QStringLiteral("%1 more lines of uid %2 left out: %3")
                      .arg(std::exchange(user.untold, 0))
                      .arg(key.first)
                      .arg(QLatin1String(key.second)));
    }
}
