#include "QtTestApplication.h"

#include "controls/PictureBox.h"
#include "platform/Gradient.h"
#include "platform/Twips.h"

#include <gtest/gtest.h>

#include <vector>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

// Keeps the colour of every line, checking that each runs across the whole width at its y.
struct RecordingTarget {
    explicit RecordingTarget(double h) : height(h) {}
    double height;
    double width = 1000;
    std::vector<qint32> colours;

    double Height() const { return height; }
    double Width() const { return width; }
    void Line(double x1, double y1, double x2, double y2, qint32 colour) {
        EXPECT_EQ(x1, 0.0);
        EXPECT_EQ(x2, width);
        EXPECT_EQ(y1, double(colours.size()));
        EXPECT_EQ(y2, y1);
        colours.push_back(colour);
    }
};

TEST(ColourChannels, SplitRedGreenBlue) {
    EXPECT_EQ(Global::RedOf(0x123456), 0x56);
    EXPECT_EQ(Global::GreenOf(0x123456), 0x34);
    EXPECT_EQ(Global::BlueOf(0x123456), 0x12);
    EXPECT_EQ(Global::RedOf(-1), -1);
}

TEST(Gradient, LinesFromStartToEnd) {
    RecordingTarget same{300};
    Global::PaintGradient(same, 0x123456, 0x123456);
    EXPECT_EQ(same.colours, std::vector<qint32>(301, 0x123456));

    RecordingTarget redToYellow{1500};
    Global::PaintGradient(redToYellow, 255, 65535);
    ASSERT_EQ(redToYellow.colours.size(), 1501u);
    EXPECT_EQ(redToYellow.colours[0], 255);
    EXPECT_EQ(redToYellow.colours[750], 255 + 256 * 128);
    EXPECT_EQ(redToYellow.colours[1500], 65535);
    for (size_t y = 1; y <= 1500; ++y) {
        EXPECT_EQ(redToYellow.colours[y] & 0xFF00FF, 255) << y;
        EXPECT_GE(redToYellow.colours[y], redToYellow.colours[y - 1]) << y;
    }

    // Half a step per line: 0.5 rounds to 0 and 1.5 to 2.
    RecordingTarget blackToBlue{510};
    Global::PaintGradient(blackToBlue, 0, 0xFF0000);
    EXPECT_EQ(blackToBlue.colours[1], 0);
    EXPECT_EQ(blackToBlue.colours[3], 0x020000);
    EXPECT_EQ(blackToBlue.colours[510], 0xFF0000);
    for (size_t y = 1; y <= 510; ++y) {
        EXPECT_EQ(blackToBlue.colours[y] & 0xFFFF, 0) << y;
        EXPECT_GE(blackToBlue.colours[y], blackToBlue.colours[y - 1]) << y;
    }

    RecordingTarget flat{0};
    Global::PaintGradient(flat, 255, 65535);
    EXPECT_TRUE(flat.colours.empty());
}

TEST(Gradient, EachPixelRowShowsTheLastLineDrawnIntoIt) {
    ASSERT_EQ(Twips::PerPixelY(), 15.0);
    PictureBox box;
    box.resize(40, 100);
    box.show();
    Global::PaintGradient(box, 255, 65535);
    const QImage image = Shot(box);
    // Row r takes the lines 15r - 7 to 15r + 7.
    EXPECT_EQ(ColourAt(image, 0, 0), 255 + 256 * 1);     // y = 7: green 1.19
    EXPECT_EQ(ColourAt(image, 39, 50), 255 + 256 * 129); // y = 757: 128.69
    EXPECT_EQ(ColourAt(image, 20, 99), 255 + 256 * 254); // y = 1492: 253.64
    box.resize(60, 100);
    EXPECT_EQ(Shot(box).copy(0, 0, 40, 100), image);
}

} // namespace
