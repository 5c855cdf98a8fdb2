#include "RealDesktop.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

bool WaitFor(const std::function<bool()>& done, int timeout) {
    const QDeadlineTimer deadline(timeout);
    while (!deadline.hasExpired()) {
        if (done())
            return true;
        QThread::msleep(30);
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
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
}

QString RealDesktop::Missing(bool withTray) {
    QStringList tools{"Xvfb", "openbox", "xprop", "xwininfo", "xdotool"};
    if (withTray)
        tools.append(QStringLiteral("trayer"));
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    return {};
}

QString RealDesktop::Start(bool withTray) {
    // The server picks a free display itself: copies of these tests may run at the same time in
    // other checkouts on the same machine, so no number is safe to fix. Without -noreset it would
    // start over each time its last client leaves, refusing the next one for a moment.
    QString failure = launch(server_, QStringLiteral("Xvfb"),
                             {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                              QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
                              QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                             [this] {
                                 if (display_.isEmpty() && server_.canReadLine())
                                     display_ = u':' + QString::fromLatin1(server_.readLine()).trimmed();
                                 return !display_.isEmpty() && !root({}).isEmpty();
                             });
    if (!failure.isEmpty())
        return failure;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    if (withTray) {
        // Before the window manager: openbox may announce itself a moment before it maps windows,
        // and a tray already on the screen is simply taken over.
        tray_.setProcessEnvironment(environment);
        failure = launch(
            tray_, QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
             QStringLiteral("--width"), QStringLiteral("64"), QStringLiteral("--height"),
             QStringLiteral("24")},
            [this] {
                QString found;
                Run(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("trayer")}, &found);
                const QStringList windows = found.split(u'\n', Qt::SkipEmptyParts);
                return std::any_of(windows.begin(), windows.end(), [this](const QString& window) {
                    return !Geometry(window.toULongLong()).isEmpty();
                });
            });
        if (!failure.isEmpty())
            return failure;
    }
    windowManager_.setProcessEnvironment(environment);
    return launch(windowManager_, QStringLiteral("openbox"), {}, [this] {
        return root({QStringLiteral("_NET_SUPPORTING_WM_CHECK")}).contains("window id");
    });
}

QString RealDesktop::launch(QProcess& process, const QString& program, const QStringList& arguments,
                            const std::function<bool()>& ready, int patience, int attempts) {
    QString why;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return program + QStringLiteral(" did not start");
        bool ended = false;
        const bool up = WaitFor(
            [&] {
                process.waitForReadyRead(0);
                return (ended = process.waitForFinished(0)) || ready();
            },
            patience);
        if (up && !ended)
            return {};
        if (!ended) {
            process.kill();
            process.waitForFinished(1000);
        }
        why = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        QThread::msleep(200);
    }
    return program + QStringLiteral(" did not come up: ") + why;
}

bool RealDesktop::Run(const QString& program, const QStringList& arguments, QString* output) const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return true;
}

QString RealDesktop::root(const QStringList& properties) const {
    QString output;
    return Run(QStringLiteral("xprop"), QStringList{QStringLiteral("-root")} + properties, &output)
               ? output
               : QString();
}

QString RealDesktop::Property(unsigned long long window, const QString& name) const {
    QString output;
    return Run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), name}, &output)
               ? output
               : QString();
}

QString RealDesktop::Geometry(unsigned long long window) const {
    QString info;
    if (!Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)}, &info) ||
        !info.contains(QLatin1String("IsViewable")))
        return {};
    QStringList values;
    for (const char* key : {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"}) {
        const qsizetype at = info.indexOf(QLatin1String(key));
        if (at < 0)
            return {};
        const qsizetype start = at + qsizetype(qstrlen(key));
        values.append(info.mid(start, info.indexOf(u'\n', start) - start).trimmed());
    }
    return values.join(u' ');
}

void RealDesktop::Launch(QProcess& program, const QString& path, const QStringList& arguments) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(environment);
    program.start(path, arguments);
}
