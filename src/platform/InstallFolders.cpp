#include "platform/InstallFolders.h"

#include <QDir>
#include <QFileInfo>

InstallFolders InstallFolders::Of(const QString& programFolder) {
    const QString prefix = QDir::cleanPath(programFolder + QStringLiteral("/.."));
    const QString data = QDir::cleanPath(prefix + QStringLiteral("/share/norvale"));
    if (!QFileInfo(data).isDir())
        return InOne(programFolder);
    // /usr's own etc, var and run are the system's.
    if (prefix == u"/usr" || prefix == u"/")
        return {data, QStringLiteral("/etc/norvale"), QLatin1String(SystemState), QLatin1String(SystemRun)};
    return {data, prefix + QStringLiteral("/etc/norvale"), prefix + QStringLiteral("/var/lib/norvale"),
            prefix + QStringLiteral("/run/norvale")};
}

InstallFolders InstallFolders::OfThisProgram() {
    return Of(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
}

InstallFolders InstallFolders::InOne(const QString& folder) {
    const QString clean = QDir::cleanPath(folder);
    return {clean, clean, clean, clean};
}

bool InstallFolders::sharesSystemFolders() const {
    const auto same = [](const QString& folder, const char* system) {
        const QFileInfo mine(folder);
        const QFileInfo theirs(QString::fromLatin1(system));
        return QDir::cleanPath(folder) == QLatin1String(system) ||
               (mine.exists() && theirs.exists() && mine.canonicalFilePath() == theirs.canonicalFilePath());
    };
    return same(state, SystemState) || same(run, SystemRun);
}
