#include "QtTestApplication.h"

#include "controls/PropertyBag.h"
#include "controls/quadBar.h"

#include <gtest/gtest.h>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;
using QtTestApplication::Shown;

namespace {

constexpr qint32 SavedBar = 0x008001;
constexpr qint32 SavedLit = 0x00FF00;

// The main window's instances: 10 %, bar colour (1, 128, 0), highlight (0, 255, 0).
PropertyBag mainWindowBag() {
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("Percent"), qint16(10), qint16(0));
    bag.WriteProperty(QStringLiteral("BarColor"), SavedBar, quadBar::DefaultBarColor);
    bag.WriteProperty(QStringLiteral("HighLightColor"), SavedLit, quadBar::DefaultHighLightColor);
    return bag;
}

class QuadBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar->setGeometry(0, 0, 93, 17);
        bar->ReadProperties(mainWindowBag());
        host.show();
    }

    // One letter per segment, read inside it: L highlight, B bar colour, ? other. Outlines, gaps
    // and the space after the last segment are checked on the way.
    std::string segments(qint32 lit = SavedLit, qint32 unlit = SavedBar) {
        const QImage image = Shot(*bar);
        const qint32 outline = Shown(quadBar::OutlineColour), gap = Shown(quadBar::GapColour);
        std::string letters;
        const int count = std::max<int>(bar->SegmentCount(), 1);
        for (int x = 0; x < image.width(); ++x) {
            const int offset = x % 6;
            const qint32 top = ColourAt(image, x, 0), middle = ColourAt(image, x, 8);
            if (x >= 6 * count || offset == 5) {
                EXPECT_EQ(middle, gap) << x;
            } else if (offset == 0 || offset == 4) {
                EXPECT_EQ(middle, outline) << x;
            } else {
                EXPECT_EQ(top, outline) << x;
                if (offset == 2)
                    letters += middle == lit ? 'L' : middle == unlit ? 'B' : '?';
            }
        }
        return letters;
    }

    QWidget host;
    quadBar* bar = new quadBar(&host);
};

TEST_F(QuadBarTest, PercentLightsItsRoundedShareOfFifteenSegments) {
    EXPECT_EQ(bar->SegmentCount(), 15);
    EXPECT_EQ(segments(), "LLBBBBBBBBBBBBB"); // 10 %: rounded(1.5) = 2
    bar->setPercent(40);
    EXPECT_EQ(segments(), "LLLLLLBBBBBBBBB");
    bar->setPercent(120);
    EXPECT_EQ(bar->Percent(), 120);
    EXPECT_EQ(segments(), "LLLLLLLLLLLLLLL");
    bar->setPercent(3);
    EXPECT_EQ(segments(), "BBBBBBBBBBBBBBB");
    bar->setPercent(-20);
    EXPECT_EQ(segments(), "BBBBBBBBBBBBBBB");
}

TEST_F(QuadBarTest, WidthDecidesTheSegmentCount) {
    bar->setPercent(40);
    bar->resize(99, 17);
    EXPECT_EQ(segments(), "LLLLLLBBBBBBBBBB");
    // Narrower than one pitch: element 0 alone, in the bar colour whatever the percent.
    bar->resize(5, 17);
    EXPECT_EQ(bar->SegmentCount(), 0);
    bar->setPercent(100);
    EXPECT_EQ(segments(), "B");
    bar->resize(93, 17);
    EXPECT_EQ(segments(), "LLLLLLLLLLLLLLL");
}

TEST_F(QuadBarTest, ColourWritesFollowTheirOwnRules) {
    bar->setPercent(40);
    bar->setBarColor(0x0000FF); // lit segments too, until the next Percent
    EXPECT_EQ(segments(0, 0x0000FF), "BBBBBBBBBBBBBBB");
    bar->setPercent(40);
    EXPECT_EQ(segments(SavedLit, 0x0000FF), "LLLLLLBBBBBBBBB");

    const QImage before = Shot(*bar);
    bar->setHighLightColor(0xFF0000); // nothing until the next Percent or layout
    EXPECT_EQ(Shot(*bar), before);
    bar->setPercent(20);
    EXPECT_EQ(segments(0xFF0000, 0x0000FF), "LLLBBBBBBBBBBBB");
    bar->setHighLightColor(0x00FFFF);
    bar->resize(94, 17);
    EXPECT_EQ(segments(0x00FFFF, 0x0000FF), "LLLBBBBBBBBBBBB");
}

TEST(QuadBarLoading, SavedPercentWaitsForTheFirstLayout) {
    QWidget host;
    auto* bar = new quadBar(&host);
    bar->setGeometry(0, 0, 93, 17);
    bar->ReadProperties(mainWindowBag());
    bar->setPercent(50); // no segments to colour yet
    EXPECT_EQ(bar->SegmentCount(), 0);
    host.show();
    EXPECT_EQ(bar->SegmentCount(), 15);
    const QImage image = Shot(*bar);
    EXPECT_EQ(ColourAt(image, 6 * 7 + 2, 8), SavedLit); // rounded(7.5) = 8 lit
    EXPECT_EQ(ColourAt(image, 6 * 8 + 2, 8), SavedBar);
}

TEST(QuadBarProperties, SavedInOrderAndReadBack) {
    quadBar placed;
    placed.InitProperties();
    EXPECT_EQ(placed.SegmentCount(), 1);
    PropertyBag fresh;
    placed.WriteProperties(fresh);
    EXPECT_EQ(fresh.Names(), QStringList({"BarColor"})); // colour 0 against the default (0, 128, 0)

    quadBar loaded;
    loaded.ReadProperties(mainWindowBag());
    loaded.setPercent(55);
    PropertyBag saved;
    loaded.WriteProperties(saved);
    EXPECT_EQ(saved.Names(), QStringList({"Percent", "BarColor", "HighLightColor"}));
    quadBar copy;
    copy.ReadProperties(saved);
    EXPECT_EQ(copy.Percent(), 55);
    EXPECT_EQ(copy.BarColor(), SavedBar);
    EXPECT_EQ(copy.HighLightColor(), SavedLit);
    PropertyBag again;
    copy.WriteProperties(again);
    EXPECT_EQ(again, saved);
}

} // namespace
