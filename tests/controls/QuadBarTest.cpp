#include "QtTestApplication.h"

#include "app/StripLayout.h"
#include "controls/quadBar.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using QtTestApplication::ColourAt;
using QtTestApplication::Shown;

namespace {

constexpr qint32 SavedBar = 0x008001, SavedLit = 0x00FF00;

class QuadBarTest : public ::testing::Test {
protected:
    // One letter per segment, read in its middle: L highlight, B bar colour, ? other; the space
    // after the last segment keeps the gap colour.
    std::string segments() {
        host.show();
        const QImage image = QtTestApplication::Shot(*bar);
        const int count = std::max<int>(bar->SegmentCount(), 1);
        std::string letters;
        for (int x = 0; x < image.width(); ++x) {
            const qint32 middle = ColourAt(image, x, 8);
            if (x >= 6 * count)
                EXPECT_EQ(middle, Shown(quadBar::GapColour)) << x;
            else if (x % 6 == 2)
                letters += middle == SavedLit ? 'L' : middle == SavedBar ? 'B' : '?';
        }
        return letters;
    }

    QWidget host;
    // The main window's level: 93 x 17, 10 %, bar colour (1, 128, 0), highlight (0, 255, 0).
    quadBar* bar = StripLayout::LevelBar(&host, QString(), QString(), 0);
};

TEST_F(QuadBarTest, PercentLightsItsRoundedShareOfTheSegments) {
    bar->setPercent(50); // no segments to colour yet
    EXPECT_EQ(bar->SegmentCount(), 0);
    EXPECT_EQ(segments(), "LLLLLLLLBBBBBBB"); // rounded(7.5) = 8 lit
    // The percent is written first, so that the width's layout lights the segments again.
    const std::vector<std::tuple<int, qint16, std::string>> cases = {
        {93, 40, "LLLLLLBBBBBBBBB"},
        {93, 120, "LLLLLLLLLLLLLLL"},
        {93, 3, "BBBBBBBBBBBBBBB"},
        {93, -20, "BBBBBBBBBBBBBBB"},
        {99, 40, "LLLLLLBBBBBBBBBB"},
        // Narrower than one pitch: element 0 alone, in the bar colour whatever the percent.
        {5, 100, "B"},
        {93, 100, "LLLLLLLLLLLLLLL"}};
    for (const auto& [width, percent, expected] : cases) {
        SCOPED_TRACE(testing::Message() << width << " px, " << percent << " %");
        bar->setPercent(percent);
        bar->resize(width, 17);
        EXPECT_EQ(segments(), expected);
    }
}

} // namespace
