#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A Hayes modem emulator behind a socat pty pair, with its link and record file in a
// temporary folder of its own. Stopping it ends socat and the emulator.
class ModemLine final {
public:
    explicit ModemLine(const QStringList& emulatorArguments = {});
    ~ModemLine();
    Q_DISABLE_COPY_MOVE(ModemLine)

    bool isReady() const { return m_ready; }
    QString device() const { return m_dir.filePath(QStringLiteral("modem")); }
    // The pty the link points at, as /proc shows it for a process using the line.
    QString ptyPath() const;
    QString folder() const { return m_dir.path(); }
    // Commands the emulator received, one a line.
    QStringList received() const;
    void stop();

private:
    QTemporaryDir m_dir;
    QProcess m_socat;
    bool m_ready = false;
};

// Runs the event loop until the condition holds or the time is up; returns the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

// chat's full path: it lives in /usr/sbin, which an ordinary user's PATH may lack.
QString chatProgram();
