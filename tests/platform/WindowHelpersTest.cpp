#include "platform/WindowHelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace Subs;

// The strip goes on and off the top without being rebuilt, moved or shown.
TEST(WindowHelpers, TopMostTogglesInPlace) {
    QWidget strip(nullptr, Qt::FramelessWindowHint);
    strip.setGeometry(100, 50, 509, 33);
    EXPECT_TRUE(SetTopMost(strip, true)); // before the window exists
    EXPECT_FALSE(strip.isVisible());
    strip.show();
    ASSERT_NE(strip.windowHandle(), nullptr);
    EXPECT_TRUE(strip.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    const WId id = strip.windowHandle()->winId();
    for (const bool on : {true, false, true}) {
        EXPECT_TRUE(SetTopMost(strip, on));
        EXPECT_EQ(strip.windowHandle()->flags() & (Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint),
                  on ? Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint : Qt::FramelessWindowHint);
        EXPECT_TRUE(strip.isVisible());
        EXPECT_EQ(strip.windowHandle()->winId(), id);
        EXPECT_EQ(strip.geometry(), QRect(100, 50, 509, 33));
    }
}

TEST(WindowHelpers, WithoutCloseItemOnlyTheProgramClosesTheWindow) {
    QDialog dialog;
    RemoveCloseItem(dialog);
    RemoveCloseItem(dialog); // a second call changes nothing more
    dialog.show();
    EXPECT_EQ(dialog.windowHandle()->flags() & (Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
              Qt::WindowTitleHint);
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
    EXPECT_TRUE(dialog.windowHandle()->close());
    EXPECT_FALSE(dialog.isVisible());
}
