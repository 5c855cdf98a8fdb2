// The info strip: where it opens, what it shows, how long it lives and how a second message
// reuses it.
#include "QtTestApplication.h"

#include "tray/ShowInfo.h"
#include "tray/TrayState.h"
#include "tray/frmInfo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class InfoStripTest : public ::testing::Test {
protected:
    void SetUp() override { Tray::Reset(); }
    void TearDown() override { Tray::Reset(); }

    static void deleteClosed() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Columns and rows of the dark (message) pixels inside a rectangle of the strip.
    struct Extent {
        int left = 1 << 20, right = -1, top = 1 << 20, bottom = -1;
    };
    static Extent darkExtent(const QImage& image, const QRect& area) {
        Extent e;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90) {
                    e.left = std::min(e.left, x);
                    e.right = std::max(e.right, x);
                    e.top = std::min(e.top, y);
                    e.bottom = std::max(e.bottom, y);
                }
            }
        }
        return e;
    }
};

TEST_F(InfoStripTest, OpensCentredOnTopWithItsLayoutAndColours) {
    Global::ShowInfo(QStringLiteral("Connesso. IP: 10.64.0.7"), 18);
    frmInfo* strip = Tray::state.Info;
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(strip->isVisible());
    EXPECT_EQ(strip->size(), QSize(473, 47));
    EXPECT_TRUE(strip->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(strip->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_LE(std::abs(strip->geometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(strip->geometry().center().y() - screen.center().y()), 1);

    EXPECT_EQ(strip->Label1->text(), QStringLiteral(" Norvale 4.2"));
    EXPECT_EQ(strip->Label1->geometry(), QRect(16, 0, 81, 13));
    EXPECT_EQ(strip->lblInfo->geometry(), QRect(24, 8, 421, 29));
    EXPECT_EQ(strip->lblInfo->text(), QStringLiteral("Connesso. IP: 10.64.0.7"));
    EXPECT_DOUBLE_EQ(strip->lblInfo->font().pointSizeF(), 18.0);

    const QImage shot = QtTestApplication::Shot(*strip);
    const qint32 yellow = 0x80FFFF, blue = 0xFF0000;
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 1, 1), yellow);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 2, 44), yellow);
    // The frame, 4 pixels in on every side; the title covers it at the top left.
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 4, 30), blue);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 468, 30), blue);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 300, 4), blue);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 300, 44), blue);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 100, 4), blue);
    int titleBlue = 0;
    for (int y = 0; y < 13; ++y) {
        for (int x = 16; x < 97; ++x) {
            const QRgb p = shot.pixel(x, y);
            titleBlue += (qBlue(p) > 200 && qRed(p) < 120 && qGreen(p) < 120) ? 1 : 0;
        }
    }
    EXPECT_GT(titleBlue, 20);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 10, 20), yellow);

    // The message, black on the yellow and centred in its label.
    const Extent text = darkExtent(shot, strip->lblInfo->geometry());
    ASSERT_GE(text.right, 0);
    const int labelCentre = 24 + 421 / 2;
    EXPECT_LE(std::abs((text.left + text.right) / 2 - labelCentre), 3);
    EXPECT_EQ(QtTestApplication::ColourAt(shot, 30, 20), yellow);
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
    deleteClosed();
    EXPECT_TRUE(strip.isNull());

    // The next message opens a strip of its own with a full life.
    Global::ShowInfo(QStringLiteral("again"), 8);
    ASSERT_FALSE(Tray::state.Info.isNull());
    EXPECT_TRUE(Tray::state.Info->tmrInfo->isActive());
    EXPECT_TRUE(Tray::state.Info->isVisible());

    // With a shortened life the strip goes by itself.
    Tray::Reset();
    Tray::state.InfoLifeMs = 20;
    Global::ShowInfo(QStringLiteral("short"), 8);
    strip = Tray::state.Info;
    ASSERT_FALSE(strip.isNull());
    const QDeadlineTimer deadline(5000);
    while (!strip.isNull() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        deleteClosed();
    }
    EXPECT_TRUE(strip.isNull());
    EXPECT_TRUE(Tray::state.Info.isNull());
}

TEST_F(InfoStripTest, SecondMessageReplacesTextAndSizeOnly) {
    Global::ShowInfo(QStringLiteral("Connesso. IP: 10.64.0.7"), 18);
    frmInfo* strip = Tray::state.Info;
    ASSERT_NE(strip, nullptr);
    const Extent large = darkExtent(QtTestApplication::Shot(*strip), strip->lblInfo->geometry());
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

    const Extent small = darkExtent(QtTestApplication::Shot(*strip), strip->lblInfo->geometry());
    ASSERT_GE(small.bottom, 0);
    EXPECT_LT(small.bottom - small.top, large.bottom - large.top);
}

} // namespace
