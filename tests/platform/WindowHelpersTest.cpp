#include "platform/WindowHelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

using namespace Subs;

namespace {

unsigned long long nativeId(const QWidget& window) {
    return window.windowHandle() ? window.windowHandle()->winId() : 0;
}

} // namespace

TEST(WindowHelpers, TopMostTogglesInPlace) {
    QWidget strip(nullptr, Qt::FramelessWindowHint);
    strip.setGeometry(100, 50, 509, 33);
    strip.show();
    const unsigned long long id = nativeId(strip);
    ASSERT_NE(id, 0u);

    EXPECT_TRUE(SetTopMost(strip, true));
    EXPECT_TRUE(strip.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(strip.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(strip.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(strip.isVisible());
    EXPECT_EQ(nativeId(strip), id);
    EXPECT_EQ(strip.geometry(), QRect(100, 50, 509, 33));

    EXPECT_TRUE(SetTopMost(strip, false));
    EXPECT_FALSE(strip.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(strip.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(strip.isVisible());
    EXPECT_EQ(nativeId(strip), id);
    EXPECT_EQ(strip.geometry(), QRect(100, 50, 509, 33));

    // Hidden into the tray and shown again: the state set while hidden holds.
    strip.hide();
    EXPECT_TRUE(SetTopMost(strip, true));
    strip.show();
    EXPECT_TRUE(strip.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(strip.geometry(), QRect(100, 50, 509, 33));
}

TEST(WindowHelpers, TopMostBeforeTheWindowExistsAndOnAChild) {
    QWidget window;
    window.move(40, 30);
    EXPECT_TRUE(SetTopMost(window, true));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.pos(), QPoint(40, 30));
    window.show();
    EXPECT_TRUE(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));

    QWidget child(&window);
    const Qt::WindowFlags before = child.windowFlags();
    EXPECT_FALSE(SetTopMost(child, true));
    EXPECT_EQ(child.windowFlags(), before);
}

TEST(WindowHelpers, CentreOnTheWholeScreen) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->logicalDotsPerInchX(), 96.0);
    ASSERT_EQ(screen->geometry(), QRect(0, 0, 800, 800)) << "the offscreen screen";
    QWidget window;
    window.resize(400, 300);
    CentreWindow(window);
    EXPECT_EQ(window.pos(), QPoint(200, 250));
    // 509 x 33: 6000 - 3817.5 = 2182.5 twips = 145.5 pixels, 6000 - 247.5 = 5752.5 twips = 383.5
    // pixels; the halves go to the even neighbour.
    window.resize(509, 33);
    CentreWindow(window);
    EXPECT_EQ(window.pos(), QPoint(146, 384));
    // Bigger than the screen: centred all the same, off its edges.
    window.resize(1000, 900);
    CentreWindow(window);
    EXPECT_EQ(window.pos(), QPoint(-100, -50));
}

TEST(WindowHelpers, WithoutCloseItemOnlyTheProgramClosesTheWindow) {
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Setup di Norvale"));
    RemoveCloseItem(dialog);
    RemoveCloseItem(dialog); // a second call changes nothing more
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::WindowTitleHint));
    dialog.show();
    EXPECT_FALSE(dialog.windowHandle()->flags().testFlag(Qt::WindowCloseButtonHint));

    // The program's own close works (the window manager's is checked on a real display below).
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    dialog.show();
    EXPECT_TRUE(dialog.windowHandle()->close());
    EXPECT_FALSE(dialog.isVisible());
}

namespace {

// Runs a command on the display to its end (at most 5 s); true when it succeeded.
bool run(const QString& program, const QStringList& arguments, const QString& display,
         QString* output = nullptr) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
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

QString outputOf(const QString& program, const QStringList& arguments, const QString& display) {
    QString output;
    return run(program, arguments, display, &output) ? output : QString();
}

// Asks again until the answer satisfies the test, for at most 5 s.
bool waitFor(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (done())
            return true;
        QThread::msleep(30);
    }
    return done();
}

// An X server on display :71 with openbox managing it, for one test; both end with it.
class RealDesktop {
public:
    static constexpr auto Display = ":71";

    ~RealDesktop() {
        for (QProcess* process : {&windowManager, &server}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(3000)) {
                    process->kill();
                    process->waitForFinished(1000);
                }
            }
        }
    }

    // Empty when it runs, else why not.
    QString Start() {
        server.start(QStringLiteral("Xvfb"),
                     {QLatin1String(Display), QStringLiteral("-screen"), QStringLiteral("0"),
                      QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!server.waitForStarted(5000))
            return QStringLiteral("Xvfb did not start");
        // Ours once the display's lock names it: another server may hold the display already.
        const auto ours = [this] {
            QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(QLatin1String(Display).mid(1)));
            return lock.open(QIODevice::ReadOnly) &&
                   lock.readAll().trimmed().toLongLong() == server.processId();
        };
        if (!waitFor(
                [&] { return server.state() != QProcess::Running || (ours() && !root({}).isEmpty()); }) ||
            server.state() != QProcess::Running)
            return QStringLiteral("Xvfb on %1 did not come up (display in use?): %2")
                .arg(QLatin1String(Display), QString::fromLocal8Bit(server.readAllStandardError()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QLatin1String(Display));
        windowManager.setProcessEnvironment(environment);
        windowManager.start(QStringLiteral("openbox"), {});
        if (!waitFor(
                [this] { return root({QStringLiteral("_NET_SUPPORTING_WM_CHECK")}).contains("window id"); }))
            return QStringLiteral("openbox did not come up");
        return {};
    }

    QString root(QStringList properties) const {
        return outputOf(QStringLiteral("xprop"), QStringList{QStringLiteral("-root")} + properties,
                        QLatin1String(Display));
    }
    QString property(unsigned long long window, const QString& name) const {
        return outputOf(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), name},
                        QLatin1String(Display));
    }
    // Left, top, width and height as the X server has them, or empty while unknown.
    QString geometry(unsigned long long window) const {
        const QString info =
            outputOf(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)},
                     QLatin1String(Display));
        if (!info.contains(QLatin1String("IsViewable")))
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

private:
    QProcess server;
    QProcess windowManager;
};

} // namespace

TEST(WindowHelpersOnX11, TopMostKeepsThePlaceAndSwitchesTheAboveState) {
    for (const char* tool : {"Xvfb", "openbox", "xprop", "xwininfo", "xdotool"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed: no real desktop to check against";
    }
    RealDesktop desktop;
    const QString failure = desktop.Start();
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QLatin1String(RealDesktop::Display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(WINDOW_HELPERS_PROBE), {});
    const auto answer = [&probe] {
        while (!probe.canReadLine()) {
            if (!probe.waitForReadyRead(5000))
                return QStringList();
        }
        return QString::fromLocal8Bit(probe.readLine()).trimmed().split(u' ');
    };
    const auto ask = [&](const char* command) {
        probe.write(command);
        probe.write("\n");
        return answer();
    };

    const QStringList ready = answer();
    ASSERT_EQ(ready.size(), 4) << ready.join(u' ').toStdString()
                               << probe.readAllStandardError().toStdString();
    ASSERT_EQ(ready[0], "ready");
    const unsigned long long strip = ready[1].toULongLong();
    const unsigned long long dialog = ready[2].toULongLong();
    const unsigned long long ordinary = ready[3].toULongLong();
    QString placed;
    ASSERT_TRUE(waitFor([&] { return !(placed = desktop.geometry(strip)).isEmpty(); }));
    EXPECT_EQ(placed.toStdString(), "100 50 509 33");
    const auto above = [&] {
        return desktop.property(strip, QStringLiteral("_NET_WM_STATE")).contains("ABOVE");
    };
    EXPECT_FALSE(above());

    const QStringList on = ask("on");
    ASSERT_EQ(on.size(), 7);
    EXPECT_EQ(on[0], "1");
    EXPECT_EQ(on[1].toULongLong(), strip); // the same X window, not a new one
    EXPECT_EQ(on[2], "1");
    EXPECT_EQ(on.mid(3).join(u' ').toStdString(), "100 50 509 33");
    EXPECT_TRUE(waitFor(above));
    EXPECT_EQ(desktop.geometry(strip).toStdString(), placed.toStdString());

    const QStringList off = ask("off");
    ASSERT_EQ(off.size(), 7);
    EXPECT_EQ(off[0], "1");
    EXPECT_EQ(off[1].toULongLong(), strip);
    EXPECT_EQ(off[2], "0");
    EXPECT_EQ(off.mid(3).join(u' ').toStdString(), "100 50 509 33");
    EXPECT_TRUE(waitFor([&] { return !above(); }));
    EXPECT_EQ(desktop.geometry(strip).toStdString(), placed.toStdString());

    // The dialog asks for no close function (openbox draws its button anyway; the window ignores it).
    const QString hints = desktop.property(dialog, QStringLiteral("_MOTIF_WM_HINTS"));
    const QStringList fields = hints.section(u'=', 1).split(u',', Qt::SkipEmptyParts);
    ASSERT_GE(fields.size(), 2) << hints.toStdString();
    bool read = false;
    const uint flags = fields[0].trimmed().toUInt(&read, 16);
    ASSERT_TRUE(read);
    const uint functions = fields[1].trimmed().toUInt(&read, 16);
    ASSERT_TRUE(read);
    EXPECT_TRUE(flags & 1u) << hints.toStdString();         // functions given
    EXPECT_FALSE(functions & 0x20u) << hints.toStdString(); // close not among them

    // The window manager's close (Alt+F4 in openbox) on the dialog, then on the ordinary window:
    // once the second has gone, the first request has been handled too, and turned away.
    const auto closeByKey = [&](unsigned long long window) {
        const QString id = QString::number(window);
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id},
                   QLatin1String(RealDesktop::Display)) &&
               run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("alt+F4")},
                   QLatin1String(RealDesktop::Display));
    };
    EXPECT_TRUE(closeByKey(dialog));
    EXPECT_TRUE(closeByKey(ordinary));
    EXPECT_TRUE(waitFor([&] { return desktop.geometry(ordinary).isEmpty(); }))
        << "the ordinary window stayed";
    EXPECT_FALSE(desktop.geometry(dialog).isEmpty()) << "the dialog was closed";

    probe.write("quit\n");
    EXPECT_TRUE(probe.waitForFinished(5000));
    EXPECT_EQ(probe.exitCode(), 0);
}
