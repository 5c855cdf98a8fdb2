#pragma once

#include "guard/GuardLog.h"

#include <QElapsedTimer>
#include <QString>

#include <QByteArray>

#include <map>
#include <utility>

#include <sys/types.h>

// The guard's lines about what one user's requests caused: one a second at most of each kind for each
// user, the lines left out counted in the next one, so that a flood cannot hide the lines that matter.
class LogLimit final {
public:
    static constexpr int IntervalMs = 1000;

    using Priority = GuardLog::Priority;

    // Who asked, as every line about a request names it: "uid 1000 (alice, pid 4242)".
    static QString Who(uid_t uid, pid_t pid = 0);
    void Write(Priority priority, uid_t uid, const char* kind, const QString& line);
    // The counts not told yet, before the guard ends.
    void Flush();

private:
    struct User {
        QElapsedTimer last;
        int untold = 0;
        Priority priority = Priority::Notice;
    };
    std::map<std::pair<uid_t, QByteArray>, User> users_;
};
