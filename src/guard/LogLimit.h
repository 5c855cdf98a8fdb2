#pragma once

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

    // A line of the guard's log, as every line of it is written.
    static void Write(const QString& line);
    void Write(uid_t uid, const char* kind, const QString& line);
    // The counts not told yet, before the guard ends.
    void Flush();

private:
    struct User {
        QElapsedTimer last;
        int untold = 0;
    };
    std::map<std::pair<uid_t, QByteArray>, User> users_;
};
