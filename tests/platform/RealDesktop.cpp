#include "RealDesktop.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

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
    server_.start(QStringLiteral("Xvfb"),
                  {display_, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
                   QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server_.waitForStarted(5000))
        return QStringLiteral("Xvfb did not start");
    // Ours once the display's lock names it: another server may hold the display already.
    const auto ours = [this] {
        QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(display_.mid(1)));
        return lock.open(QIODevice::ReadOnly) && lock.readAll().trimmed().toLongLong() == server_.processId();
    };
    if (!WaitFor([&] { return server_.state() != QProcess::Running || (ours() && !root({}).isEmpty()); }) ||
        server_.state() != QProcess::Running)
        return QStringLiteral("Xvfb on %1 did not come up (display in use?): %2")
            .arg(display_, QString::fromLocal8Bit(server_.readAllStandardError()));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    windowManager_.setProcessEnvironment(environment);
    windowManager_.start(QStringLiteral("openbox"), {});
    // A busy machine can keep openbox starting for a few seconds.
    if (!WaitFor([this] { return root({QStringLiteral("_NET_SUPPORTING_WM_CHECK")}).contains("window id"); },
                 15000))
        return QStringLiteral("openbox did not come up: %1")
            .arg(QString::fromLocal8Bit(windowManager_.readAllStandardError()));
    if (!withTray)
        return {};
    tray_.setProcessEnvironment(environment);
    tray_.start(QStringLiteral("trayer"),
                {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                 QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                 QStringLiteral("--width"), QStringLiteral("64"), QStringLiteral("--height"),
                 QStringLiteral("24")});
    if (!tray_.waitForStarted(5000))
        return QStringLiteral("trayer did not start");
    return {};
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
