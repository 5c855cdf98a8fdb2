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

// A real X display for the program: Xvfb on a fixed display number, a window manager and a
// notification-area host, all ended when the session goes.
class DesktopSession final {
public:
    explicit DesktopSession(int display = 57);
    ~DesktopSession();
    Q_DISABLE_COPY_MOVE(DesktopSession)

    // Why the session could not start; empty when it runs.
    const QString& problem() const { return m_problem; }
    QProcessEnvironment environment() const;

    // Runs a program on the display and gives its standard output.
    QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) const;

    // The first window whose title contains the text; nothing when none is mapped.
    std::optional<qulonglong> findWindow(const QString& title) const;
    // Position and size as the X server has them; mapped tells whether it is shown.
    std::optional<QRect> geometry(qulonglong window, bool* mapped = nullptr) const;
    QImage screenshot() const;

private:
    bool startServer(const QString& program, const QStringList& arguments);

    QString m_display;
    QString m_problem;
    std::vector<std::unique_ptr<QProcess>> m_servers;
};

// A folder holding a copy of the built program and its companions, as when it is installed.
class ProgramFolder final {
public:
    ProgramFolder();
    Q_DISABLE_COPY_MOVE(ProgramFolder)

    QString path(const QString& name = {}) const;
    void write(const QString& name, const QByteArray& content) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Waits, letting events run, until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000);
