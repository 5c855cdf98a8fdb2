#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// An X server (Xvfb) on a display of its choosing with openbox managing it and, when asked, a tray
// (trayer), started for one test and ended with it; and the tools to look at it from outside.
class RealDesktop final {
    Q_DISABLE_COPY_MOVE(RealDesktop)

public:
    RealDesktop() = default;
    ~RealDesktop();

    // The program a desktop with (or without) a tray needs that is missing, or empty.
    static QString Missing(bool withTray);
    // Empty once everything runs, else why not.
    QString Start(bool withTray);

    // Runs a command on the display to its end (at most 5 s); true when it succeeded.
    bool Run(const QString& program, const QStringList& arguments, QString* output = nullptr) const;
    // "left top width height" of a window as the X server has it, empty while it is not viewable.
    QString Geometry(unsigned long long window) const;
    // Starts a Qt program of ours on the display.
    void Launch(QProcess& program, const QString& path, const QStringList& arguments = {}) const;

private:
    QProcessEnvironment environment() const;
    // Starts a helper program and waits until it is ready, starting it again when it ends or is not
    // ready in time; empty when it is ready, else why not.
    QString launch(QProcess& process, const QString& program, const QStringList& arguments,
                   const std::function<bool()>& ready);

    QString display_;
    QProcess server_;
    QProcess windowManager_;
    QProcess tray_;
};

// Asks again until the answer satisfies the test, for at most the time given (ms).
bool WaitFor(const std::function<bool()>& done, int timeout = 5000);
// The next line a program writes, split at blanks; empty after the time (ms) without one.
QStringList NextLine(QProcess& program, int timeout = 5000);
