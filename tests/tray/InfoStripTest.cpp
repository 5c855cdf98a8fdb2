// The info strip: where it opens, what it shows, how long it lives and how a second message
// reuses it.
#include "QtTestApplication.h"

#include "tray/ShowInfo.h"
#include "tray/TrayState.h"
#include "tray/frmInfo.h"

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The rectangle of the dark (message) pixels inside the message label.
QRect darkExtent(frmInfo& strip) {
    const QImage image = QtTestApplication::Shot(strip);
    const QRect area = strip.lblInfo->geometry();
    QRect found;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90)
                found |= QRect(x, y, 1, 1);
        }
    }
    return found;
}

TEST(InfoStrip, OpensOnTopIsReusedForTheNextMessageWrapsALongOneAndClosesItself) {
    Tray::Reset();
    Global::ShowInfo(QStringLiteral("Connesso. IP: 10.64.0.7"), 18);
    QPointer<frmInfo> strip = Tray::state.Info;
    ASSERT_FALSE(strip.isNull());
    EXPECT_TRUE(strip->isVisible());
    EXPECT_TRUE(strip->windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));

    // A second message reuses the strip.
    Global::ShowInfo(QStringLiteral("Codice errore:  633 - <b>busy</b>"), 8);
    EXPECT_EQ(Tray::state.Info.data(), strip);
    EXPECT_EQ(strip->lblInfo->text(), QStringLiteral("Codice errore:  633 - <b>busy</b>"));
    EXPECT_EQ(strip->lblInfo->textFormat(), Qt::PlainText);
    EXPECT_DOUBLE_EQ(strip->lblInfo->font().pointSizeF(), 8.0);
    const QRect small = darkExtent(*strip);
    ASSERT_FALSE(small.isEmpty());
    // Too long for one line: two centred lines, nothing cut at either end.
    Global::ShowInfo(
        QStringLiteral("Codice errore:  692 - There was a hardware failure in the modem (or other "
                       "connecting device)."),
        8);
    const QRect area = strip->lblInfo->geometry(), wrapped = darkExtent(*strip);
    EXPECT_TRUE(area.adjusted(3, 0, -3, 0).contains(wrapped));
    EXPECT_GT(wrapped.height(), small.height() * 3 / 2);

    EXPECT_EQ(strip->tmrInfo->interval(), 3000);
    strip->tmrInfo_Timer();
    EXPECT_TRUE(Tray::state.Info.isNull());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(strip.isNull());

    // The next message opens a strip of its own; a shortened life ends by itself.
    Tray::state.InfoLifeMs = 20;
    Global::ShowInfo(QStringLiteral("again"), 8);
    strip = Tray::state.Info;
    ASSERT_FALSE(strip.isNull());
    EXPECT_TRUE(QTest::qWaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return strip.isNull() && Tray::state.Info.isNull();
    }));
    Tray::Reset();
}

} // namespace
