#include "DesktopSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

DesktopSession::DesktopSession(int display) : m_display(QStringLiteral(":%1").arg(display)) {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        m_problem = QStringLiteral("Xvfb is not installed");
        return;
    }
    QFile::remove(QStringLiteral("/tmp/.X%1-lock").arg(display)); // left by a killed run
    if (!startServer(QStringLiteral("Xvfb"), {m_display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}))
        return;
    if (!waitUntil([this] {
            int code = -1;
            run(QStringLiteral("xdpyinfo"), {}, &code);
            return code == 0;
        })) {
        m_problem = QStringLiteral("Xvfb did not come up on ") + m_display;
        return;
    }
    startServer(QStringLiteral("openbox"), {});
    // The tray host must run before the program, which looks for it at start.
    startServer(QStringLiteral("trayer"), {"--edge", "bottom", "--align", "right", "--widthtype", "pixel",
                                           "--width", "64", "--height", "24"});
    QThread::msleep(700);
}

DesktopSession::~DesktopSession() {
    for (auto it = m_servers.rbegin(); it != m_servers.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(3000)) {
            (*it)->kill();
            (*it)->waitForFinished(3000);
        }
    }
}

bool DesktopSession::startServer(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(5000)) {
        m_problem = program + QStringLiteral(" did not start");
        return false;
    }
    m_servers.push_back(std::move(process));
    return true;
}

QProcessEnvironment DesktopSession::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

QString DesktopSession::run(const QString& program, const QStringList& arguments, int* exitCode) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    const bool finished = process.waitForStarted(5000) && process.waitForFinished(15000);
    if (!finished)
        process.kill();
    if (exitCode)
        *exitCode = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

std::optional<qulonglong> DesktopSession::findWindow(const QString& title) const {
    int code = -1;
    const QString out = run(QStringLiteral("xdotool"), {"search", "--name", QRegularExpression::escape(title)}, &code);
    const QStringList ids = out.split(u'\n', Qt::SkipEmptyParts);
    if (code != 0 || ids.isEmpty())
        return std::nullopt;
    return ids.first().trimmed().toULongLong();
}

std::optional<QRect> DesktopSession::geometry(qulonglong window, bool* mapped) const {
    int code = -1;
    const QString out = run(QStringLiteral("xwininfo"), {"-id", QString::number(window)}, &code);
    if (code != 0)
        return std::nullopt;
    auto field = [&](const char* name) {
        const QRegularExpression pattern(QStringLiteral("%1:\\s+(-?\\d+)").arg(QLatin1String(name)));
        return pattern.match(out).captured(1).toInt();
    };
    if (mapped)
        *mapped = out.contains(QStringLiteral("Map State: IsViewable"));
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
}

QImage DesktopSession::screenshot() const {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("shot.png"));
    run(QStringLiteral("import"), {"-display", m_display, "-window", "root", file});
    return QImage(file);
}

ProgramFolder::ProgramFolder() {
    // Everything the build put next to the program, as an installation would.
    const QDir build(QStringLiteral(NORVALE_BUILD_DIR));
    for (const QString& name : build.entryList(QDir::Files)) {
        const bool companion = name == QLatin1String("norvale") || name == QLatin1String("norvale-line") ||
                               name.endsWith(QLatin1String(".mp3")) || name.endsWith(QLatin1String(".png")) ||
                               name.endsWith(QLatin1String(".conf")) || name.endsWith(QLatin1String(".hlp"));
        if (companion && name != QLatin1String("dialer.conf") && name != QLatin1String("phonebook.conf"))
            QFile::copy(build.filePath(name), m_dir.filePath(name));
    }
}

QString ProgramFolder::path(const QString& name) const { return name.isEmpty() ? m_dir.path() : m_dir.filePath(name); }

void ProgramFolder::write(const QString& name, const QByteArray& content) const {
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

QByteArray ProgramFolder::read(const QString& name) const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitUntil(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(30);
    }
    return true;
}
