#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A real X display for the program: Xvfb on a display it picks itself, a notification-area host
// and a window manager, all ended when the session goes.
class DesktopSession final {
public:
    DesktopSession();
    ~DesktopSession();
    Q_DISABLE_COPY_MOVE(DesktopSession)

    // Why the session could not start; empty when it runs.
    const QString& problem() const { return m_problem; }
    const QString& display() const { return m_display; }
    QProcessEnvironment environment() const;

    // Runs a program on the display (at most 15 s) and gives its standard output.
    QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) const;

    // The first window whose title contains the text; nothing when there is none.
    std::optional<qulonglong> findWindow(const QString& title) const;
    // Position and size as the X server has them; mapped tells whether it is shown.
    std::optional<QRect> geometry(qulonglong window, bool* mapped = nullptr) const;
    // xprop's line for one property of the window.
    QString property(qulonglong window, const QString& name) const;
    // The windows of the given size embedded in the tray host, with their places on the screen.
    std::vector<std::pair<qulonglong, QRect>> trayIcons(QSize size) const;
    QImage screenshot() const;

private:
    bool startServer();
    bool startHelper(const QString& program, const QStringList& arguments,
                     const std::function<bool()>& ready);

    QString m_display;
    QString m_problem;
    // Owner-only, as Qt wants it.
    QTemporaryDir m_runtime;
    QProcess m_server;
    std::vector<std::unique_ptr<QProcess>> m_helpers;
};

// A folder holding a copy of the built programs and their companions, as when they are installed.
// Files a killed program left immutable lose the flag before the folder goes.
class ProgramFolder final {
public:
    ProgramFolder();
    ~ProgramFolder();
    Q_DISABLE_COPY_MOVE(ProgramFolder)

    QString path(const QString& name = {}) const;
    void write(const QString& name, const QByteArray& content) const;
    QByteArray read(const QString& name) const;
    // Clears the immutable flag of every file in the folder.
    void clearImmutable() const;

private:
    QTemporaryDir m_dir;
};

// Waits, letting events run, until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000);
