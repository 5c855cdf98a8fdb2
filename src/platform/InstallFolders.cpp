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
        return {data, QLatin1String(SystemConfig), QLatin1String(SystemState), QLatin1String(SystemRun)};
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

namespace {

// The path with its links resolved, also where its last folders are still missing: the guard makes
// them later, through whatever links lie on the way (/var/run is /run).
QString resolved(const QString& folder) {
    QString path = QDir::cleanPath(folder);
    QString rest;
    for (int links = 0; links < 40;) {
        const QFileInfo info(path);
        if (info.exists())
            return QDir::cleanPath(info.canonicalFilePath() + rest);
        if (info.isSymLink()) {
            path = QDir::cleanPath(info.absoluteDir().absoluteFilePath(info.symLinkTarget()));
            ++links;
            continue;
        }
        const qsizetype slash = path.lastIndexOf(u'/');
        if (slash <= 0)
            break;
        rest.prepend(path.mid(slash));
        path.truncate(slash);
    }
    return QDir::cleanPath(folder);
}

} // namespace

bool InstallFolders::sharesSystemFolders() const {
    const auto same = [](const QString& folder, const char* system) {
        return QDir::cleanPath(folder) == QLatin1String(system) ||
               resolved(folder) == resolved(QString::fromLatin1(system));
    };
    return same(config, SystemConfig) || same(state, SystemState) || same(run, SystemRun);
}
