#include "platform/Gradient.h"

#include <gtest/gtest.h>

#include <vector>

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
        qint32 start, end;
        std::vector<std::pair<size_t, qint32>> rows;
    };
    const std::vector<Case> cases = {{1500, 255, 65535, {{0, 255}, {750, 255 + 256 * 128}, {1500, 65535}}},
                                     // Half a step per line: 0.5 rounds to 0 and 1.5 to 2.
                                     {510, 0, 0xFF0000, {{1, 0}, {3, 0x020000}, {510, 0xFF0000}}},
                                     {0, 255, 65535, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        RecordingTarget target{c.height, 1000, {}};
        Global::PaintGradient(target, c.start, c.end);
        ASSERT_EQ(target.colours.size(), c.height > 0 ? size_t(c.height) + 1 : 0u);
        for (const auto& [y, colour] : c.rows)
            EXPECT_EQ(target.colours[y], colour) << y;
    }
}

} // namespace
