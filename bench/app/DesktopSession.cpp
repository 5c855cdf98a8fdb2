#include "DesktopSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

DesktopSession::DesktopSession() {
    for (const char* tool :
         {"Xvfb", "openbox", "trayer", "xdotool", "xwininfo", "xprop", "xdpyinfo", "import"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            m_problem = QLatin1String(tool) + QStringLiteral(" is not installed");
            return;
        }
    }
    if (!startServer())
        return;
    // The tray host goes first: the program looks for it at start, and openbox simply takes over
    // a tray already on the screen.
    const bool trayUp = startHelper(
        QStringLiteral("trayer"),
        {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "64", "--height", "24"},
        [this] {
            const QStringList ids = run(QStringLiteral("xdotool"), {"search", "--class", "trayer"})
                                        .split(u'\n', Qt::SkipEmptyParts);
            bool mapped = false;
            for (const QString& id : ids) {
                if (geometry(id.toULongLong(), &mapped) && mapped)
                    return true;
            }
            return false;
        });
    if (!trayUp)
        return;
    startHelper(QStringLiteral("openbox"), {}, [this] {
        return run(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains(u"window id");
    });
}

DesktopSession::~DesktopSession() {
    for (auto it = m_helpers.rbegin(); it != m_helpers.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(3000)) {
            (*it)->kill();
            (*it)->waitForFinished(3000);
        }
    }
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(3000)) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }
}

bool DesktopSession::startServer() {
    // Xvfb picks a free display and writes its number: several test programs may run at once.
    // Without -noreset it would start over when its last client leaves and refuse the next one
    // for a moment.
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start(QStringLiteral("Xvfb"),
                   {"-displayfd", "1", "-noreset", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    if (!m_server.waitForStarted(5000)) {
        m_problem = QStringLiteral("Xvfb did not start");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!m_server.canReadLine() && clock.elapsed() < 10000 && m_server.state() == QProcess::Running)
        m_server.waitForReadyRead(200);
    if (!m_server.canReadLine()) {
        m_problem = QStringLiteral("Xvfb gave no display number");
        return false;
    }
    m_display = u':' + QString::fromLatin1(m_server.readLine()).trimmed();
    if (!waitUntil([this] {
            int code = -1;
            run(QStringLiteral("xdpyinfo"), {}, &code);
            return code == 0;
        })) {
        m_problem = QStringLiteral("Xvfb did not come up on ") + m_display;
        return false;
    }
    return true;
}

bool DesktopSession::startHelper(const QString& program, const QStringList& arguments,
                                 const std::function<bool()>& ready) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    const bool started = process->waitForStarted(5000);
    QProcess* raw = process.get();
    m_helpers.push_back(std::move(process));
    if (!started || !waitUntil([&] { return raw->state() == QProcess::Running && ready(); })) {
        m_problem = program + QStringLiteral(" did not come up on ") + m_display;
        return false;
    }
    return true;
}

QProcessEnvironment DesktopSession::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    return env;
}

QString DesktopSession::run(const QString& program, const QStringList& arguments, int* exitCode) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    const bool finished = process.waitForStarted(5000) && process.waitForFinished(15000);
    if (!finished) {
        process.kill();
        process.waitForFinished(3000);
    }
    if (exitCode)
        *exitCode = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

std::optional<qulonglong> DesktopSession::findWindow(const QString& title) const {
    int code = -1;
    const QString out =
        run(QStringLiteral("xdotool"), {"search", "--name", QRegularExpression::escape(title)}, &code);
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
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                 field("Height"));
}

QString DesktopSession::property(qulonglong window, const QString& name) const {
    return run(QStringLiteral("xprop"), {"-id", QString::number(window), name}).trimmed();
}

std::vector<std::pair<qulonglong, QRect>> DesktopSession::trayIcons(QSize size) const {
    std::vector<std::pair<qulonglong, QRect>> icons;
    // A line of "xwininfo -tree": 0x1a00003 "name": ("name" "Class")  22x22+1+1  +1201+1001. Only
    // the program's own window has a class; the host's socket window around it has the same size.
    const QRegularExpression line(QStringLiteral(
        "(0x[0-9a-f]+) .*\\(\".*\\s(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
    const QStringList hosts =
        run(QStringLiteral("xdotool"), {"search", "--class", "trayer"}).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& host : hosts) {
        const QString tree = run(QStringLiteral("xwininfo"), {"-tree", "-id", host.trimmed()});
        for (const QString& text : tree.split(u'\n')) {
            const QRegularExpressionMatch match = line.match(text);
            if (!match.hasMatch() || match.captured(2).toInt() != size.width() ||
                match.captured(3).toInt() != size.height())
                continue;
            const qulonglong id = match.captured(1).toULongLong(nullptr, 16);
            bool mapped = false;
            if (geometry(id, &mapped) && mapped)
                icons.emplace_back(id,
                                   QRect(QPoint(match.captured(4).toInt(), match.captured(5).toInt()), size));
        }
    }
    return icons;
}

QImage DesktopSession::screenshot() const {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("shot.png"));
    run(QStringLiteral("import"), {"-display", m_display, "-window", "root", file});
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

ProgramFolder::ProgramFolder() {
    // Everything the build put next to the program, as an installation would.
    const QDir build(QStringLiteral(NORVALE_BUILD_DIR));
    for (const QString& name : build.entryList(QDir::Files)) {
        const bool companion = name == QLatin1String("norvale") || name == QLatin1String("norvale-guard") ||
                               name == QLatin1String("norvale-line") ||
                               name.endsWith(QLatin1String(".mp3")) || name.endsWith(QLatin1String(".png")) ||
                               name.endsWith(QLatin1String(".conf")) || name.endsWith(QLatin1String(".hlp"));
        if (companion && name != QLatin1String("dialer.conf") && name != QLatin1String("phonebook.conf"))
            QFile::copy(build.filePath(name), m_dir.filePath(name));
    }
    // Readable by the display's user, as an installed folder is; the guard's own folder is not.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

ProgramFolder::~ProgramFolder() {
    clearImmutable();
}

void ProgramFolder::clearImmutable() const {
    QStringList files;
    for (const QString& name : QDir(m_dir.path()).entryList(QDir::Files | QDir::System))
        files.append(m_dir.filePath(name));
    if (files.isEmpty())
        return;
    QProcess chattr;
    chattr.setStandardErrorFile(QProcess::nullDevice());
    chattr.start(QStringLiteral("chattr"), QStringList{QStringLiteral("-i")} + files);
    if (!chattr.waitForFinished(5000)) {
        chattr.kill();
        chattr.waitForFinished(3000);
    }
}

QString ProgramFolder::path(const QString& name) const {
    return name.isEmpty() ? m_dir.path() : m_dir.filePath(name);
}

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
