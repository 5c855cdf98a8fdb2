#include "ModemLine.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

ModemLine::ModemLine(const QStringList& emulatorArguments) {
    QStringList emulator{QStringLiteral(NORVALE_MODEM_EMULATOR)};
    emulator << emulatorArguments << QStringLiteral("--record") << m_dir.filePath(QStringLiteral("record"));
    m_socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_socat.start(QStringLiteral("socat"),
                  {QStringLiteral("PTY,link=%1,raw,echo=0").arg(device()),
                   QStringLiteral("EXEC:\"%1\"").arg(emulator.join(QLatin1Char(' ')))});
    if (!m_socat.waitForStarted(5000))
        return;
    // The emulator creates its record file when it starts: only then does the line answer.
    m_ready = waitUntil(
        [this] {
            return QFileInfo::exists(device()) && QFileInfo::exists(m_dir.filePath(QStringLiteral("record")));
        },
        10000);
}

ModemLine::~ModemLine() {
    stop();
}

void ModemLine::stop() {
    if (m_socat.state() == QProcess::NotRunning)
        return;
    m_socat.terminate();
    if (!m_socat.waitForFinished(5000)) {
        m_socat.kill();
        m_socat.waitForFinished(5000);
    }
}

QString ModemLine::ptyPath() const {
    return QFileInfo(device()).canonicalFilePath();
}

QStringList ModemLine::received() const {
    QFile f(m_dir.filePath(QStringLiteral("record")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QString chatProgram() {
    QString found = QStandardPaths::findExecutable(QStringLiteral("chat"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("chat"),
                                               {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found.isEmpty() ? QStringLiteral("chat") : found;
}
