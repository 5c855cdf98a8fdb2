#include "QtTestApplication.h"

#include "controls/PropertyBag.h"
#include "controls/quadBar.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;
using QtTestApplication::Shown;

namespace {

constexpr qint32 SavedBar = 0x008001;
constexpr qint32 SavedHighLight = 0x00FF00;

// The main window's instances: 93 x 17 pixels, 10 %, bar colour (1, 128, 0), highlight green.
PropertyBag mainWindowBag() {
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("Percent"), qint16(10), qint16(0));
    bag.WriteProperty(QStringLiteral("BarColor"), SavedBar, quadBar::DefaultBarColor);
    bag.WriteProperty(QStringLiteral("HighLightColor"), SavedHighLight, quadBar::DefaultHighLightColor);
    return bag;
}

class QuadBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.resize(120, 30);
        bar->setGeometry(0, 0, 93, 17);
        bar->ReadProperties(mainWindowBag());
        host.show();
    }

    // Fill colour of each segment, read inside it, and a check of outlines and gaps.
    std::vector<qint32> segments() {
        const QImage image = Shot(*bar);
        std::vector<qint32> fills;
        const int count = bar->SegmentCount() > 0 ? bar->SegmentCount() : 1;
        for (int i = 0; i < count; ++i) {
            const int left = 6 * i;
            fills.push_back(ColourAt(image, left + 2, image.height() / 2));
            EXPECT_EQ(ColourAt(image, left, 0), Shown(quadBar::OutlineColour)) << i;
            EXPECT_EQ(ColourAt(image, left + 4, image.height() - 1), Shown(quadBar::OutlineColour)) << i;
            if (left + 5 < image.width()) {
                EXPECT_EQ(ColourAt(image, left + 5, 3), Shown(quadBar::GapColour)) << i;
            }
        }
        for (int x = 6 * count; x < image.width(); ++x)
            EXPECT_EQ(ColourAt(image, x, 3), Shown(quadBar::GapColour)) << x;
        return fills;
    }

    static std::vector<qint32> lit(int on, qint32 onColour, int off, qint32 offColour) {
        std::vector<qint32> fills(on, onColour);
        fills.insert(fills.end(), off, offColour);
        return fills;
    }

    QWidget host;
    quadBar* bar = new quadBar(&host);
};

TEST_F(QuadBarTest, FifteenSegmentsAtTheMainWindowWidth) {
    EXPECT_EQ(bar->SegmentCount(), 15);
    // The saved 10 % lights rounded(1.5) = 2.
    EXPECT_EQ(segments(), lit(2, SavedHighLight, 13, SavedBar));
    const QImage image = Shot(*bar);
    EXPECT_EQ(ColourAt(image, 2, 0), Shown(quadBar::OutlineColour));
    EXPECT_EQ(ColourAt(image, 2, 1), SavedHighLight);
    EXPECT_EQ(ColourAt(image, 1, 15), SavedHighLight);
    EXPECT_EQ(ColourAt(image, 2, 16), Shown(quadBar::OutlineColour));
    EXPECT_NE(Shown(quadBar::OutlineColour), Shown(quadBar::GapColour));
}

TEST_F(QuadBarTest, PercentLightsRoundedShareOfTheSegments) {
    bar->setPercent(40);
    EXPECT_EQ(segments(), lit(6, SavedHighLight, 9, SavedBar));
    bar->setPercent(100);
    EXPECT_EQ(segments(), lit(15, SavedHighLight, 0, SavedBar));
    bar->setPercent(120);
    EXPECT_EQ(bar->Percent(), 120);
    EXPECT_EQ(segments(), lit(15, SavedHighLight, 0, SavedBar));
    bar->setPercent(3);
    EXPECT_EQ(segments(), lit(0, SavedHighLight, 15, SavedBar));
    bar->setPercent(0);
    EXPECT_EQ(segments(), lit(0, SavedHighLight, 15, SavedBar));
    bar->setPercent(-20);
    EXPECT_EQ(segments(), lit(0, SavedHighLight, 15, SavedBar));
    bar->setPercent(32767);
    EXPECT_EQ(segments(), lit(15, SavedHighLight, 0, SavedBar));
}

TEST_F(QuadBarTest, WidthDecidesTheSegmentCount) {
    bar->setPercent(40);
    bar->resize(99, 17);
    EXPECT_EQ(bar->SegmentCount(), 16);
    // rounded(16 / 100 x 40) = 6.
    EXPECT_EQ(segments(), lit(6, SavedHighLight, 10, SavedBar));

    // Narrower than one pitch: no segments counted, element 0 stays in the bar colour.
    bar->resize(5, 17);
    EXPECT_EQ(bar->SegmentCount(), 0);
    bar->setPercent(100);
    EXPECT_EQ(segments(), lit(0, SavedHighLight, 1, SavedBar));
    bar->resize(3, 17);
    const QImage image = Shot(*bar);
    EXPECT_EQ(ColourAt(image, 0, 5), Shown(quadBar::OutlineColour));
    EXPECT_EQ(ColourAt(image, 2, 5), SavedBar);

    bar->resize(93, 17);
    EXPECT_EQ(segments(), lit(15, SavedHighLight, 0, SavedBar));
}

TEST_F(QuadBarTest, BarColorRecoloursEverySegmentUntilTheNextPercent) {
    bar->setPercent(40);
    bar->setBarColor(0x0000FF);
    EXPECT_EQ(bar->BarColor(), 0x0000FF);
    EXPECT_EQ(segments(), lit(15, 0x0000FF, 0, 0));
    bar->setPercent(40);
    EXPECT_EQ(segments(), lit(6, SavedHighLight, 9, 0x0000FF));
}

TEST_F(QuadBarTest, HighLightColorWaitsForPercentOrLayout) {
    bar->setPercent(40);
    const QImage before = Shot(*bar);
    bar->setHighLightColor(0xFF0000);
    EXPECT_EQ(bar->HighLightColor(), 0xFF0000);
    EXPECT_EQ(Shot(*bar), before);
    bar->setPercent(40);
    EXPECT_EQ(segments(), lit(6, 0xFF0000, 9, SavedBar));

    bar->setHighLightColor(0x00FFFF);
    bar->resize(94, 17);
    EXPECT_EQ(segments(), lit(6, 0x00FFFF, 9, SavedBar));
}

TEST_F(QuadBarTest, MousePressesStayInTheBar) {
    class Counter final : public QObject {
    public:
        int presses = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            presses += event->type() == QEvent::MouseButtonPress;
            return false;
        }
    } counter;
    host.installEventFilter(&counter);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &press);
    EXPECT_EQ(counter.presses, 0);
}

TEST(QuadBarLoading, SavedPercentWaitsForTheFirstLayout) {
    QWidget host;
    auto* bar = new quadBar(&host);
    bar->setGeometry(0, 0, 93, 17);
    bar->ReadProperties(mainWindowBag());
    EXPECT_EQ(bar->SegmentCount(), 0);
    EXPECT_EQ(bar->Percent(), 10);
    // A Percent write before any layout has no segments to colour.
    bar->setPercent(50);
    EXPECT_EQ(bar->SegmentCount(), 0);
    host.show();
    EXPECT_EQ(bar->SegmentCount(), 15);
    const QImage image = Shot(*bar);
    // rounded(7.5) = 8.
    EXPECT_EQ(ColourAt(image, 6 * 7 + 2, 8), SavedHighLight);
    EXPECT_EQ(ColourAt(image, 6 * 8 + 2, 8), SavedBar);
}

TEST(QuadBarProperties, SavedInOrderAndReadBack) {
    quadBar placed;
    placed.InitProperties();
    EXPECT_EQ(placed.SegmentCount(), 1);
    PropertyBag fresh;
    placed.WriteProperties(fresh);
    // Placed with colour 0, against a stored default of (0, 128, 0); the highlight default is 0.
    EXPECT_EQ(fresh.Names(), QStringList({"BarColor"}));
    EXPECT_EQ(fresh.ReadInt32(u"barcolor", -1), 0);

    quadBar loaded;
    loaded.ReadProperties(mainWindowBag());
    loaded.setPercent(0);
    PropertyBag saved;
    loaded.WriteProperties(saved);
    EXPECT_EQ(saved.Names(), QStringList({"BarColor", "HighLightColor"}));
    loaded.setPercent(55);
    PropertyBag ordered;
    loaded.WriteProperties(ordered);
    EXPECT_EQ(ordered.Names(), QStringList({"Percent", "BarColor", "HighLightColor"}));

    quadBar copy;
    copy.ReadProperties(ordered);
    EXPECT_EQ(copy.Percent(), 55);
    EXPECT_EQ(copy.BarColor(), SavedBar);
    EXPECT_EQ(copy.HighLightColor(), SavedHighLight);
    PropertyBag again;
    copy.WriteProperties(again);
    EXPECT_EQ(again, ordered);
}

} // namespace
