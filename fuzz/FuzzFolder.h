#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

// One temporary folder per fuzzing process; each input starts from an empty folder holding
// only the file under test, so that nothing left by one input changes the next.
class FuzzFolder final {
public:
    FuzzFolder() = default;
    Q_DISABLE_COPY_MOVE(FuzzFolder)

    // The folder, ending in "/".
    QString path() const { return m_dir.path() + u'/'; }

    // Empties the work folder and writes the input as the named file in it; the file's path.
    QString place(const QString& name, const std::uint8_t* data, std::size_t size) {
        QDir work(path());
        for (const QString& entry :
             work.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
            QFile::remove(path() + entry) || QDir(path() + entry).removeRecursively();
        const QString file = path() + name;
        QFile out(file);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
        return file;
    }

private:
    QTemporaryDir m_dir;
};
