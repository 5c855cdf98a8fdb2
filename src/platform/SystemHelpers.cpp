#include "platform/SystemHelpers.h"

#include "platform/Convert.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace Subs {

quint32 KernelVersionWord() {
    utsname info{};
    if (uname(&info) != 0)
        return 0;
    unsigned major = 0, minor = 0;
    if (std::sscanf(info.release, "%u.%u", &major, &minor) < 1)
        return 0;
    return (major & 0xFF) | ((minor & 0xFF) << 8);
}

QString WindowsVersionText(const VersionSource& source, const QLocale& locale) {
    const quint32 low = source() & 0xFFFF;
    const double version = double(low % 256) + double(low / 256) / 100.0;
    QLocale format = locale;
    format.setNumberOptions(QLocale::OmitGroupSeparator);
    return Convert::LatinDigits(format.toString(version, 'f', 2));
}

QString ReplaceText(const QString& source, const QString& searched, const QString& replacement) {
    QString text = source;
    if (searched.isEmpty())
        return text;
    qsizetype from = 0;
    for (;;) {
        const qsizetype found = text.indexOf(searched, from, Qt::CaseSensitive);
        // Positions were 16-bit: an occurrence must begin within the first 32767 characters.
        if (found < 0 || found >= 32767)
            return text;
        text.replace(found, searched.size(), replacement);
        // Resuming inside a replacement that holds the searched text again would never end.
        from = replacement.contains(searched) ? found + replacement.size() : found;
    }
}

QString WithTrailingSlash(const QString& path) {
    return path.endsWith(u'/') ? path : path + u'/';
}

QByteArray ReadSmallFile(int fd, qsizetype limit, bool* complete) {
    QByteArray out;
    char buffer[4096];
    bool end = false;
    while (out.size() < limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            end = n == 0;
            break;
        }
        out.append(buffer, std::min<qsizetype>(n, limit - out.size()));
    }
    if (complete)
        *complete = end;
    return out;
}

bool WriteAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray ReadSmallFile(const char* path, qsizetype limit) {
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    const QByteArray out = ReadSmallFile(fd, limit);
    ::close(fd);
    return out;
}

std::optional<ProcessStat> ReadProcessStat(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const QByteArray stat = ReadSmallFile(path, 4096);
    // The command name may hold blanks and parentheses: the fields start after the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    bool ok = false;
    const quint64 start = fields.size() > 19 ? fields.at(19).toULongLong(&ok) : 0;
    if (!ok || fields.at(0).isEmpty())
        return std::nullopt;
    return ProcessStat{fields.at(0).at(0), start};
}

} // namespace Subs

namespace Global {

std::optional<QStringList> GroupNamesOf(uid_t uid) {
    const passwd* user = getpwuid(uid);
    if (!user)
        return std::nullopt;
    const QByteArray name = user->pw_name;
    const gid_t primary = user->pw_gid;
    std::vector<gid_t> groups(64);
    int count = int(groups.size());
    if (getgrouplist(name.constData(), primary, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (getgrouplist(name.constData(), primary, groups.data(), &count) < 0)
            return std::nullopt;
    }
    groups.resize(size_t(count));
    QStringList names;
    for (const gid_t gid : groups) {
        if (const group* entry = getgrgid(gid))
            names << QString::fromLocal8Bit(entry->gr_name);
    }
    return names;
}

bool UserIsAdministrator(uid_t uid, const GroupLookup& groups) {
    if (uid == 0)
        return true;
    const std::optional<QStringList> names = groups(uid);
    if (!names)
        return false;
    for (const char* administrators : {"sudo", "wheel", "admin"}) {
        if (names->contains(QLatin1String(administrators)))
            return true;
    }
    return false;
}

bool IsAdministrator() {
    return UserIsAdministrator(getuid());
}

} // namespace Global
