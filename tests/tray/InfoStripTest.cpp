// The info strip: where it opens, what it shows, how long it lives and how a second message
// reuses it.
#include "QtTestApplication.h"

#include "tray/ShowInfo.h"
#include "tray/TrayState.h"
#include "tray/frmInfo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

class InfoStripTest : public ::testing::Test {
protected:
    void SetUp() override { Tray::Reset(); }
    void TearDown() override { Tray::Reset(); }

    // The rectangle of the dark (message) pixels inside the message label.
    static QRect darkExtent(frmInfo& strip) {
        const QImage image = Shot(strip);
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
};

TEST_F(InfoStripTest, OpensOnTopWithItsLayoutAndColours) {
    Global::ShowInfo(QStringLiteral("Connesso. IP: 10.64.0.7"), 18);
    frmInfo* strip = Tray::state.Info;
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(strip->isVisible());
    EXPECT_TRUE(strip->windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));

    // Yellow ground; the blue frame 4 pixels in on every side, the title covering it at the top
    // left.
    const qint32 yellow = 0x80FFFF, blue = 0xFF0000;
    const QImage shot = Shot(*strip);
    const std::vector<std::tuple<int, int, qint32>> pixels = {
        {1, 1, yellow},  {2, 44, yellow}, {10, 20, yellow}, {30, 20, yellow}, {4, 30, blue},
        {468, 30, blue}, {300, 4, blue},  {300, 44, blue},  {100, 4, blue}};
    for (const auto& [x, y, colour] : pixels)
        EXPECT_EQ(ColourAt(shot, x, y), colour) << x << "," << y;
    int titleBlue = 0;
    for (int y = 0; y < 13; ++y) {
        for (int x = 16; x < 97; ++x) {
            const QRgb p = shot.pixel(x, y);
            titleBlue += (qBlue(p) > 200 && qRed(p) < 120 && qGreen(p) < 120) ? 1 : 0;
        }
    }
    EXPECT_GT(titleBlue, 20);
    // The message, black on the yellow and centred in its label.
    const QRect text = darkExtent(*strip);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_LE(std::abs(text.center().x() - (24 + 421 / 2)), 3);
}

TEST_F(InfoStripTest, ClosesItselfOffTopWhenItsLifeIsOver) {
    Global::ShowInfo(QStringLiteral("DISCONNESSIONE"), 18);
    QPointer<frmInfo> strip = Tray::state.Info;
    ASSERT_FALSE(strip.isNull());
    EXPECT_EQ(strip->tmrInfo->interval(), 3000);
    EXPECT_TRUE(strip->tmrInfo->isActive());
    EXPECT_TRUE(strip->tmrInfo->isSingleShot());

    strip->tmrInfo_Timer();
    EXPECT_TRUE(Tray::state.Info.isNull());
    ASSERT_FALSE(strip.isNull());
    EXPECT_FALSE(strip->isVisible());
    EXPECT_FALSE(strip->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(strip.isNull());

    // The next message opens a strip of its own with a full life; a shortened life ends by itself.
    Tray::state.InfoLifeMs = 20;
    Global::ShowInfo(QStringLiteral("again"), 8);
    strip = Tray::state.Info;
    ASSERT_FALSE(strip.isNull());
    EXPECT_TRUE(strip->tmrInfo->isActive());
    EXPECT_TRUE(strip->isVisible());
    const QDeadlineTimer deadline(5000);
    while (!strip.isNull() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(strip.isNull());
    EXPECT_TRUE(Tray::state.Info.isNull());
}

TEST_F(InfoStripTest, SecondMessageReplacesTextAndSizeOnly) {
    Global::ShowInfo(QStringLiteral("Connesso. IP: 10.64.0.7"), 18);
    frmInfo* strip = Tray::state.Info;
    ASSERT_NE(strip, nullptr);
    const QRect large = darkExtent(*strip);
    // Moved away from the centre: a reused strip is not placed again.
    strip->move(10, 20);
    const int before = strip->tmrInfo->remainingTime();
    QThread::msleep(30);

    Global::ShowInfo(QStringLiteral("Codice errore:  633 - <b>busy</b>"), 8);
    EXPECT_EQ(Tray::state.Info.data(), strip);
    EXPECT_EQ(strip->pos(), QPoint(10, 20));
    EXPECT_EQ(strip->lblInfo->text(), QStringLiteral("Codice errore:  633 - <b>busy</b>"));
    EXPECT_EQ(strip->lblInfo->textFormat(), Qt::PlainText);
    EXPECT_DOUBLE_EQ(strip->lblInfo->font().pointSizeF(), 8.0);
    EXPECT_TRUE(strip->tmrInfo->isActive());
    // Not started again: less of the life is left than before.
    EXPECT_LT(strip->tmrInfo->remainingTime(), before);
    EXPECT_TRUE(strip->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QRect small = darkExtent(*strip);
    ASSERT_FALSE(small.isEmpty());
    EXPECT_LT(small.height(), large.height());
    // Too long for one line: two centred lines, nothing cut at either end.
    Global::ShowInfo(QStringLiteral("Codice errore:  692 - There was a hardware failure in the modem (or other "
                                    "connecting device)."), 8);
    const QRect area = strip->lblInfo->geometry(), wrapped = darkExtent(*strip);
    EXPECT_GT(wrapped.left(), area.left() + 2);
    EXPECT_LT(wrapped.right(), area.right() - 2);
    EXPECT_GT(wrapped.height(), small.height() * 3 / 2);
}

} // namespace
