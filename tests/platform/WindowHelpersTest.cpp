#include "RealDesktop.h"

#include "platform/WindowHelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QProcess>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

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

    for (const bool on : {true, false}) {
        EXPECT_TRUE(SetTopMost(strip, on));
        EXPECT_EQ(strip.windowFlags().testFlag(Qt::WindowStaysOnTopHint), on);
        EXPECT_EQ(strip.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint), on);
        EXPECT_TRUE(strip.windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(strip.isVisible());
        EXPECT_EQ(nativeId(strip), id);
        EXPECT_EQ(strip.geometry(), QRect(100, 50, 509, 33));
    }

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
    dialog.setWindowTitle("Setup di Norvale");
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

TEST(WindowHelpersOnX11, TopMostKeepsThePlaceAndSwitchesTheAboveState) {
    if (const QString missing = RealDesktop::Missing(false); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString() << " is not installed: no real desktop to check against";
    RealDesktop desktop;
    const QString failure = desktop.Start(false);
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    QProcess probe;
    desktop.Launch(probe, WINDOW_HELPERS_PROBE);
    // Starting a program on a busy machine can take a while.
    const QStringList ready = NextLine(probe, 20000);
    ASSERT_EQ(ready.size(), 4) << ready.join(' ').toStdString() << probe.readAllStandardError().toStdString();
    ASSERT_EQ(ready[0], "ready") << ready.join(' ').toStdString();
    const unsigned long long strip = ready[1].toULongLong(), dialog = ready[2].toULongLong(),
                             ordinary = ready[3].toULongLong();
    ASSERT_TRUE(WaitFor([&] { return desktop.Geometry(strip) == "100 50 509 33"; }))
        << desktop.Geometry(strip).toStdString();
    const auto above = [&] { return desktop.Property(strip, "_NET_WM_STATE").contains("ABOVE"); };
    EXPECT_FALSE(above());
    for (const bool on : {true, false}) {
        probe.write(on ? "on\n" : "off\n");
        // The result, the same X window (not a new one), the on-top state per Qt and the frame.
        EXPECT_EQ(NextLine(probe).join(' '), QString("1 %1 %2 100 50 509 33").arg(strip).arg(on ? 1 : 0));
        EXPECT_TRUE(WaitFor([&] { return above() == on; }));
        EXPECT_EQ(desktop.Geometry(strip), "100 50 509 33");
    }

    // The dialog asks for no close function (openbox draws its button anyway; the window ignores it).
    const QString hints = desktop.Property(dialog, "_MOTIF_WM_HINTS");
    const QStringList fields = hints.section(u'=', 1).split(u',', Qt::SkipEmptyParts);
    ASSERT_GE(fields.size(), 2) << hints.toStdString();
    bool read = false;
    EXPECT_TRUE(fields[0].trimmed().toUInt(&read, 16) & 1u) << hints.toStdString(); // functions given
    const uint functions = fields[1].trimmed().toUInt(&read, 16);
    EXPECT_TRUE(read && !(functions & 0x20u)) << hints.toStdString(); // close not among them

    // The window manager's close (Alt+F4 in openbox) on the dialog, then on the ordinary window:
    // once the second has gone, the first request has been handled too, and turned away.
    const auto closeByKey = [&](unsigned long long window) {
        return desktop.Run("xdotool", {"windowactivate", "--sync", QString::number(window)}) &&
               desktop.Run("xdotool", {"key", "alt+F4"});
    };
    EXPECT_TRUE(closeByKey(dialog));
    EXPECT_TRUE(closeByKey(ordinary));
    EXPECT_TRUE(WaitFor([&] { return desktop.Geometry(ordinary).isEmpty(); }))
        << "the ordinary window stayed";
    EXPECT_FALSE(desktop.Geometry(dialog).isEmpty()) << "the dialog was closed";

    probe.write("quit\n");
    EXPECT_TRUE(probe.waitForFinished(5000));
    EXPECT_EQ(probe.exitCode(), 0);
}
