#include "platform/SystemHelpers.h"

#include <grp.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

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
    return format.toString(version, 'f', 2);
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

} // namespace Subs

namespace Global {

uid_t DesktopUser() {
    if (geteuid() == 0) {
        bool ok = false;
        // Set by pkexec itself; nobody but root can start a root process with it.
        const uint uid = qEnvironmentVariable("PKEXEC_UID").toUInt(&ok);
        if (ok)
            return uid_t(uid);
    }
    return getuid();
}

bool StartedForDesktopUser() {
    return geteuid() == 0 && DesktopUser() != 0;
}

bool IsAdministrator() {
    std::vector<gid_t> groups;
    if (StartedForDesktopUser()) {
        const passwd* user = getpwuid(DesktopUser());
        if (!user)
            return false;
        int count = 64;
        groups.resize(size_t(count));
        if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
            groups.resize(size_t(count));
            if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
                return false;
        }
        groups.resize(size_t(count));
    } else {
        if (geteuid() == 0)
            return true;
        groups.resize(size_t(getgroups(0, nullptr)) + 1);
        const int count = getgroups(int(groups.size()) - 1, groups.data());
        if (count < 0)
            return false;
        groups.resize(size_t(count));
        groups.push_back(getegid());
    }
    for (const char* name : {"sudo", "wheel", "admin"}) {
        if (const group* entry = getgrnam(name)) {
            for (gid_t gid : groups) {
                if (gid == entry->gr_gid)
                    return true;
            }
        }
    }
    return false;
}

} // namespace Global
