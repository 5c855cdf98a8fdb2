#include "QtTestApplication.h"

#include "controls/PictureBox.h"
#include "platform/Gradient.h"
#include "platform/Twips.h"

#include <gtest/gtest.h>

#include <vector>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

// Keeps every line it is asked to draw.
struct RecordingTarget {
    struct Line {
        double x1, y1, x2, y2;
        qint32 colour;
    };
    double height = 0;
    double width = 0;
    std::vector<Line> lines;

    double Height() const { return height; }
    double Width() const { return width; }
    void Line(double x1, double y1, double x2, double y2, qint32 colour) {
        lines.push_back({x1, y1, x2, y2, colour});
    }
};

TEST(ColourChannels, SplitRedGreenBlue) {
    EXPECT_EQ(Global::RedOf(0x123456), 0x56);
    EXPECT_EQ(Global::GreenOf(0x123456), 0x34);
    EXPECT_EQ(Global::BlueOf(0x123456), 0x12);
    EXPECT_EQ(Global::RedOf(0xFFFFFF), 255);
    EXPECT_EQ(Global::BlueOf(0xFF0000), 255);
    // A negative value keeps its sign in red and its top byte in green and blue.
    EXPECT_EQ(Global::RedOf(-1), -1);
    EXPECT_EQ(Global::GreenOf(qint32(0x80000F00u)), qint32(0x80000F00u) / 256);
    EXPECT_EQ(Global::BlueOf(qint32(0x80120000u)), qint32(0x80120000u) / 65536);
}

TEST(Gradient, SameStartAndEndGiveOneColour) {
    RecordingTarget target{300, 4500, {}};
    Global::PaintGradient(target, 0x123456, 0x123456);
    ASSERT_EQ(target.lines.size(), 301u);
    for (size_t y = 0; y < target.lines.size(); ++y) {
        const auto& line = target.lines[y];
        EXPECT_EQ(line.colour, 0x123456) << y;
        EXPECT_EQ(line.y1, double(y));
        EXPECT_EQ(line.y2, double(y));
        EXPECT_EQ(line.x1, 0.0);
        EXPECT_EQ(line.x2, 4500.0);
    }
}

TEST(Gradient, RedToYellowOverFifteenHundredTwips) {
    RecordingTarget target{1500, 7635, {}};
    Global::PaintGradient(target, 255, 65535);
    ASSERT_EQ(target.lines.size(), 1501u);
    EXPECT_EQ(target.lines.front().colour, 255);
    EXPECT_EQ(target.lines[750].colour, 255 + 256 * 128);
    EXPECT_EQ(target.lines.back().colour, 65535);
    qint32 green = 0;
    for (const auto& line : target.lines) {
        EXPECT_EQ(Global::RedOf(line.colour), 255);
        EXPECT_EQ(Global::BlueOf(line.colour), 0);
        EXPECT_GE(Global::GreenOf(line.colour), green);
        green = Global::GreenOf(line.colour);
    }
}

TEST(Gradient, BlackToBlue) {
    RecordingTarget target{510, 100, {}};
    Global::PaintGradient(target, 0, 0xFF0000);
    ASSERT_EQ(target.lines.size(), 511u);
    EXPECT_EQ(target.lines.front().colour, 0);
    // Half a step per line: 0.5 rounds to 0, 1.5 to 2.
    EXPECT_EQ(target.lines[1].colour, 0);
    EXPECT_EQ(target.lines[3].colour, 0x020000);
    EXPECT_EQ(target.lines.back().colour, 0xFF0000);
    qint32 blue = 0;
    for (const auto& line : target.lines) {
        EXPECT_EQ(line.colour & 0xFFFF, 0);
        EXPECT_GE(Global::BlueOf(line.colour), blue);
        blue = Global::BlueOf(line.colour);
    }
}

TEST(Gradient, TargetWithoutHeightIsLeftAlone) {
    RecordingTarget empty{0, 1000, {}};
    Global::PaintGradient(empty, 255, 65535);
    EXPECT_TRUE(empty.lines.empty());
    RecordingTarget negative{-15, 1000, {}};
    Global::PaintGradient(negative, 255, 65535);
    EXPECT_TRUE(negative.lines.empty());

    PictureBox box;
    box.resize(10, 0);
    Global::PaintGradient(box, 255, 65535);
    EXPECT_TRUE(box.Picture().isNull());
}

TEST(Gradient, EachPixelRowShowsTheLastLineDrawnIntoIt) {
    ASSERT_EQ(Twips::PerPixelY(), 15.0);
    PictureBox box;
    box.resize(40, 100);
    box.show();
    EXPECT_EQ(box.Height(), 1500.0);
    Global::PaintGradient(box, 255, 65535);
    const QImage image = Shot(box);
    // Row r takes the lines 15r - 7 to 15r + 7; the last one wins.
    EXPECT_EQ(ColourAt(image, 0, 0), 255 + 256 * 1);     // y = 7: green 1.19
    EXPECT_EQ(ColourAt(image, 39, 50), 255 + 256 * 129); // y = 757: 128.69
    EXPECT_EQ(ColourAt(image, 20, 99), 255 + 256 * 254); // y = 1492: 253.64

    // The picture survives an expose and a resize.
    box.update();
    EXPECT_EQ(Shot(box), image);
    box.resize(60, 100);
    const QImage wider = Shot(box);
    EXPECT_EQ(wider.copy(0, 0, 40, 100), image);
}

} // namespace
