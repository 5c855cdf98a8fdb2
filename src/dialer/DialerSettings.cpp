#include "dialer/DialerSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

// A settings file is a handful of short lines; longer lines and the rest of a huge file are
// not settings.
constexpr qint64 MaxSettingsBytes = 1024 * 1024;
constexpr qsizetype MaxLineBytes = 4096;
const QString SampleName = QStringLiteral("phonebook.sample.conf");

bool readNumber(const QString& text, int low, int high, int& target) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high)
        return false;
    target = n;
    return true;
}

// The shipped sample lies among the data; in a folder given for everything, the running program's
// data stand in for a sample missing there.
QString findSample(const QString& dataFolder) {
    const QStringList candidates{dataFolder + u'/' + SampleName,
                                 InstallFolders::OfThisProgram().data + u'/' + SampleName};
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return {};
}

// Copies the sample into place; never replaces a file that appeared meanwhile.
bool createFromSample(const QString& target, const QString& dataFolder) {
    const QString sample = findSample(dataFolder);
    QFile in(sample);
    if (sample.isEmpty() || !in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = in.read(MaxSettingsBytes * 32);
    QSaveFile out(target);
    // Unbuffered, or a full disk shows only at the commit, which would put a cut copy in place.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || out.write(content) != content.size())
        return false;
    if (QFileInfo::exists(target)) {
        out.cancelWriting();
        // A FIFO or a folder in its place is no phonebook.
        return QFileInfo(target).isFile();
    }
    return out.commit();
}

} // namespace

DialerSettings DialerSettings::read(const InstallFolders& folders) {
    DialerSettings settings;
    QString phonebook;
    bool phonebookSet = false;

    QFile file(folders.config + QStringLiteral("/dialer.conf"));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray content = file.read(MaxSettingsBytes);
        for (const QByteArray& raw : content.split('\n')) {
            if (raw.size() > MaxLineBytes)
                continue;
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.isEmpty() || line.front() == u'#')
                continue;
            const qsizetype equals = line.indexOf(u'=');
            if (equals <= 0)
                continue;
            const QString key = line.left(equals).trimmed().toLower();
            const QString value = line.mid(equals + 1).trimmed();
            if (key == u"backend") {
                if (value.compare(u"ppp", Qt::CaseInsensitive) == 0)
                    settings.backend = Backend::Ppp;
                else if (value.compare(u"simulated", Qt::CaseInsensitive) == 0)
                    settings.backend = Backend::Simulated;
            } else if (key == u"phonebook") {
                phonebook = value;
                phonebookSet = !value.isEmpty();
            } else if (key == u"stage_ms") {
                readNumber(value, 0, 600000, settings.stageMs);
            } else if (key == u"down_bps") {
                readNumber(value, 0, 1000000000, settings.downBps);
            } else if (key == u"up_bps") {
                readNumber(value, 0, 1000000000, settings.upBps);
            } else if (key == u"pppd" && !value.isEmpty()) {
                settings.pppd = value;
            } else if (key == u"chat" && !value.isEmpty()) {
                settings.chat = value;
            } else if (key == u"fence") {
                if (value.compare(u"off", Qt::CaseInsensitive) == 0)
                    settings.fence = false;
                else if (value.compare(u"on", Qt::CaseInsensitive) == 0)
                    settings.fence = true;
                else
                    qWarning("dialer.conf: fence=%s is neither on nor off: the fence stays on", qPrintable(value));
            } else if (key == u"allow") {
                static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
                for (const QString& path : value.split(separators, Qt::SkipEmptyParts)) {
                    if (QDir::isAbsolutePath(path))
                        settings.allow.append(QDir::cleanPath(path));
                    else
                        qWarning("dialer.conf: allow=%s is no absolute path: ignored", qPrintable(path));
                }
            }
        }
    }

    if (phonebookSet) {
        // A relative path is taken from the folder of dialer.conf.
        const QString path = QDir(folders.config).absoluteFilePath(phonebook);
        settings.phonebook = QFileInfo(path).isFile() ? path : QString();
    } else if (settings.backend == Backend::Ppp) {
        const QString path = QStringLiteral("/etc/wvdial.conf");
        settings.phonebook = QFileInfo(path).isFile() ? path : QString();
    } else {
        const QString path = folders.state + QStringLiteral("/phonebook.conf");
        const bool present = QFileInfo(path).isFile() || createFromSample(path, folders.data);
        settings.phonebook = present ? path : QString();
    }
    return settings;
}
