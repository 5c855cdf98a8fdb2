#pragma once

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// chat lives in /usr/sbin, which an ordinary user's PATH may lack.
inline QString chatProgram() {
    const QString found = QStandardPaths::findExecutable("chat");
    return found.isEmpty() ? QStandardPaths::findExecutable("chat", {"/usr/sbin", "/sbin"}) : found;
}

// A Hayes modem emulator behind a socat pty pair, with its link and record file in a temporary
// folder of its own.
class ModemLine final {
    Q_DISABLE_COPY_MOVE(ModemLine)

public:
    explicit ModemLine(const QStringList& emulatorArguments = {}) {
        const QStringList emulator =
            QStringList{NORVALE_MODEM_EMULATOR} + emulatorArguments + QStringList{"--record", record()};
        m_socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_socat.start("socat",
                      {"PTY,link=" + device() + ",raw,echo=0", "EXEC:\"" + emulator.join(' ') + '"'});
        // The emulator creates its record file when it starts: only then does the line answer.
        m_ready = m_socat.waitForStarted(5000) &&
                  QTest::qWaitFor(
                      [this] { return QFileInfo::exists(device()) && QFileInfo::exists(record()); }, 10000);
    }
    ~ModemLine() {
        m_socat.terminate();
        if (!m_socat.waitForFinished(5000))
            m_socat.kill();
    }

    bool isReady() const { return m_ready; }
    QString device() const { return m_dir.filePath("modem"); }
    // The pty the link points at, as /proc shows it for a process using the line.
    QString ptyPath() const { return QFileInfo(device()).canonicalFilePath(); }
    // Commands the emulator received, one a line.
    QStringList received() const {
        QFile file(record());
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList();
    }

private:
    QString record() const { return m_dir.filePath("record"); }

    QTemporaryDir m_dir;
    QProcess m_socat;
    bool m_ready = false;
};
