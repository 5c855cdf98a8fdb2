#include "platform/WindowHelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QScreen>
#include <QTest>
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

    // The window manager's close arrives as a spontaneous close event: turned away here, taken by
    // an ordinary dialog.
    for (const bool refused : {true, false}) {
        QDialog ordinary;
        QCloseEvent event;
        event.ignore();
        QSpontaneKeyEvent::setSpontaneous(&event);
        QCoreApplication::instance()->notify(refused ? &dialog : &ordinary, &event);
        EXPECT_EQ(event.isAccepted(), !refused);
    }
    EXPECT_TRUE(dialog.isVisible());

    // The program's own close works.
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    dialog.show();
    EXPECT_TRUE(dialog.windowHandle()->close());
    EXPECT_FALSE(dialog.isVisible());
}
