#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>

#include <sys/types.h>

namespace Subs {

// The system's version word: major version in the low byte, minor version in the next.
using VersionSource = std::function<quint32()>;
// Kernel major and minor from uname().
quint32 KernelVersionWord();

// The version as major + minor / 100 with two decimals and the locale's decimal sign
// (kernel 6.1 gives "6,01" under an Italian locale).
QString WindowsVersionText(const VersionSource& source = KernelVersionWord, const QLocale& locale = QLocale());

// Replaces every occurrence of searched, resuming the search where the replacement begins;
// searched must be non-empty and must not occur inside the replacement.
QString ReplaceText(const QString& source, const QString& searched, const QString& replacement);

// The folder path ending in "/".
QString WithTrailingSlash(const QString& path);

// At most limit bytes from a descriptor; complete tells whether its end was reached, with no error.
QByteArray ReadSmallFile(int fd, qsizetype limit, bool* complete = nullptr);
// The first limit bytes of a file at most, read with plain system calls and never through a link as
// its last name; empty when it cannot be read.
QByteArray ReadSmallFile(const char* path, qsizetype limit);
// Writes all of bytes to fd, again after a signal or a short write; false on an error or a full
// device.
bool WriteAll(int fd, const QByteArray& bytes);

// What /proc/PID/stat tells of a process: its state (field 3) and start time (field 22, clock ticks
// after boot). Nothing when there is no such process.
struct ProcessStat {
    char state = '?';
    quint64 startTime = 0;
};
std::optional<ProcessStat> ReadProcessStat(pid_t pid);

} // namespace Subs

namespace Global {
// Names of the groups of the user with this uid in the user database (primary and supplementary);
// nothing when the database has no such user.
std::optional<QStringList> GroupNamesOf(uid_t uid);
using GroupLookup = std::function<std::optional<QStringList>(uid_t uid)>;
// The user is root or a member of group sudo, wheel or admin.
bool UserIsAdministrator(uid_t uid, const GroupLookup& groups = GroupNamesOf);
// The user of this program.
bool IsAdministrator();
} // namespace Global
