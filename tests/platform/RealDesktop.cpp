#include "RealDesktop.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

bool WaitFor(const std::function<bool()>& done, int timeout) {
    for (const QDeadlineTimer deadline(timeout); !deadline.hasExpired(); QThread::msleep(30)) {
        if (done())
            return true;
    }
    return done();
}

QStringList NextLine(QProcess& program, int timeout) {
    const QDeadlineTimer deadline(timeout);
    while (!program.canReadLine()) {
        if (deadline.hasExpired() || !program.waitForReadyRead(int(deadline.remainingTime())))
            return {};
    }
    return QString::fromLocal8Bit(program.readLine()).trimmed().split(u' ');
}

RealDesktop::~RealDesktop() {
    for (QProcess* process : {&tray_, &windowManager_, &server_}) {
        process->terminate();
        if (!process->waitForFinished(3000))
            process->kill();
    }
}

QString RealDesktop::Missing(bool withTray) {
    for (const char* tool : {"Xvfb", "openbox", "xprop", "xwininfo", "xdotool", "trayer"}) {
        if ((withTray || qstrcmp(tool, "trayer") != 0) && QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    return {};
}

QString RealDesktop::Start(bool withTray) {
    // The server picks a free display itself: copies of these tests may run at the same time in
    // other checkouts on the same machine, so no number is safe to fix. Without -noreset it would
    // start over each time its last client leaves, refusing the next one for a moment.
    QString failure =
        launch(server_, "Xvfb",
               {"-displayfd", "1", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, [this] {
                   if (display_.isEmpty() && server_.canReadLine())
                       display_ = ':' + QString::fromLatin1(server_.readLine()).trimmed();
                   return !display_.isEmpty() && Run("xprop", {"-root"});
               });
    // The tray before the window manager: openbox may announce itself a moment before it maps
    // windows, and a tray already on the screen is simply taken over.
    if (failure.isEmpty() && withTray) {
        failure =
            launch(tray_, "trayer",
                   {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "64",
                    "--height", "24"},
                   [this] {
                       QString found;
                       Run("xdotool", {"search", "--class", "trayer"}, &found);
                       const QStringList windows = found.split(u'\n', Qt::SkipEmptyParts);
                       return std::any_of(windows.begin(), windows.end(), [this](const QString& window) {
                           return !Geometry(window.toULongLong()).isEmpty();
                       });
                   });
    }
    if (failure.isEmpty()) {
        failure = launch(windowManager_, "openbox", {}, [this] {
            QString root;
            return Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, &root) && root.contains("window id");
        });
    }
    return failure;
}

QString RealDesktop::launch(QProcess& process, const QString& program, const QStringList& arguments,
                            const std::function<bool()>& ready) {
    QString why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return program + " did not start";
        bool ended = false;
        const auto up = [&] {
            process.waitForReadyRead(0);
            return (ended = process.waitForFinished(0)) || ready();
        };
        if (WaitFor(up, 15000) && !ended)
            return {};
        process.kill();
        process.waitForFinished(1000);
        why = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        QThread::msleep(200);
    }
    return program + " did not come up: " + why;
}

QProcessEnvironment RealDesktop::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display_);
    return environment;
}

bool RealDesktop::Run(const QString& program, const QStringList& arguments, QString* output) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    const bool done = process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
                      process.exitCode() == 0;
    if (done && output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return done;
}

QString RealDesktop::Geometry(unsigned long long window) const {
    QString info;
    if (!Run("xwininfo", {"-id", QString::number(window)}, &info) || !info.contains("IsViewable"))
        return {};
    QStringList values;
    for (const QString key : {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"}) {
        const qsizetype at = info.indexOf(key);
        if (at < 0)
            return {};
        values.append(info.mid(at + key.size(), info.indexOf(u'\n', at) - at - key.size()).trimmed());
    }
    return values.join(u' ');
}

void RealDesktop::Launch(QProcess& program, const QString& path, const QStringList& arguments) const {
    QProcessEnvironment environment = this->environment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(environment);
    program.start(path, arguments);
}
