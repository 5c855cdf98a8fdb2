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

    // The programs a desktop with (or without) a tray needs, or which one is missing.
    static QString Missing(bool withTray);
    // Empty once everything runs, else why not.
    QString Start(bool withTray);
    // ":n" once started.
    const QString& Display() const { return display_; }

    // Runs a command on the display to its end (at most 5 s); true when it succeeded.
    bool Run(const QString& program, const QStringList& arguments, QString* output = nullptr) const;
    QString Property(unsigned long long window, const QString& name) const;
    // "left top width height" of a window as the X server has it, empty while it is not viewable.
    QString Geometry(unsigned long long window) const;
    // Starts a Qt program of ours on the display.
    void Launch(QProcess& program, const QString& path, const QStringList& arguments = {}) const;

private:
    QString root(const QStringList& properties) const;
    // Starts a helper program and waits until it is ready, starting it again when it ends or is not
    // ready in time (ms); empty when it is ready, else why not.
    QString launch(QProcess& process, const QString& program, const QStringList& arguments,
                   const std::function<bool()>& ready, int patience = 15000, int attempts = 3);

    QString display_;
    QProcess server_;
    QProcess windowManager_;
    QProcess tray_;
};

// Asks again until the answer satisfies the test, for at most the time given (ms).
bool WaitFor(const std::function<bool()>& done, int timeout = 5000);
// The next line a program writes, split at blanks; empty after the time (ms) without one.
QStringList NextLine(QProcess& program, int timeout = 5000);
