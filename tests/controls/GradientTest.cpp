#include "QtTestApplication.h"

#include "controls/PictureBox.h"
#include "platform/Gradient.h"
#include "platform/Twips.h"

#include <gtest/gtest.h>

#include <vector>

using QtTestApplication::ColourAt;

namespace {

// Keeps the colour of every line, checking that each runs across the whole width at its y.
struct RecordingTarget {
    double height, width = 1000;
    std::vector<qint32> colours;
    double Height() const { return height; }
    double Width() const { return width; }
    void Line(double x1, double y1, double x2, double y2, qint32 colour) {
        EXPECT_EQ((std::vector{x1, x2, y1, y2}), (std::vector{0.0, width, double(colours.size()), y1}));
        colours.push_back(colour);
    }
};

TEST(Gradient, ChannelsAndLinesFromStartToEnd) {
    struct Case {
        double height;
        qint32 start, end, fixedBits;
        std::vector<std::pair<size_t, qint32>> rows;
    };
    const std::vector<Case> cases = {
        {300, 0x123456, 0x123456, 0xFFFFFF, {{0, 0x123456}, {300, 0x123456}}},
        {1500, 255, 65535, 0xFF00FF, {{0, 255}, {750, 255 + 256 * 128}, {1500, 65535}}},
        // Half a step per line: 0.5 rounds to 0 and 1.5 to 2.
        {510, 0, 0xFF0000, 0xFFFF, {{1, 0}, {3, 0x020000}, {510, 0xFF0000}}},
        {0, 255, 65535, 0, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        RecordingTarget target{c.height, 1000, {}};
        Global::PaintGradient(target, c.start, c.end);
        ASSERT_EQ(target.colours.size(), c.height > 0 ? size_t(c.height) + 1 : 0u);
        for (const auto& [y, colour] : c.rows)
            EXPECT_EQ(target.colours[y], colour) << y;
        for (size_t y = 1; y < target.colours.size(); ++y) {
            EXPECT_EQ(target.colours[y] & c.fixedBits, c.start & c.fixedBits) << y;
            EXPECT_GE(target.colours[y], target.colours[y - 1]) << y;
        }
    }
}

TEST(Gradient, EachPixelRowShowsTheLastLineDrawnIntoIt) {
    ASSERT_EQ(Twips::PerPixelY(), 15.0);
    PictureBox box;
    box.resize(40, 100);
    box.show();
    Global::PaintGradient(box, 255, 65535);
    const QImage image = QtTestApplication::Shot(box);
    // Row r takes the lines 15r - 7 to 15r + 7: green 1.19 at y = 7, 128.69 at 757, 253.64 at 1492.
    EXPECT_EQ(ColourAt(image, 0, 0), 255 + 256 * 1);
    EXPECT_EQ(ColourAt(image, 39, 50), 255 + 256 * 129);
    EXPECT_EQ(ColourAt(image, 20, 99), 255 + 256 * 254);
    box.resize(60, 100);
    EXPECT_EQ(QtTestApplication::Shot(box).copy(0, 0, 40, 100), image);
}

} // namespace
