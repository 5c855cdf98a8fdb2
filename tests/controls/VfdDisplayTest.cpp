#include "QtTestApplication.h"

#include "app/StripLayout.h"
#include "controls/vfdDisplay.h"

#include <gtest/gtest.h>

#include <climits>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

constexpr qint32 Red = vfdDisplay::Red, Yellow = vfdDisplay::Yellow, Green = vfdDisplay::Green;

// At 81 pixels bar 19 covers columns 77-80 and bar 18 columns 73-76.
constexpr int Newest = 79, Previous = 75;
const std::string Empty = "................G"; // half a cell on the bottom row
const std::string Blank = ".................";
const std::string Lit64 = "RRRYYYYGGGGGGGGGG"; // cell 8 red, 7 and 6 yellow, 5 to 0 green

TEST(VfdDisplayTest, ValuesRoundHalfToEvenClipAtMaxMayBeNegativeAndLimitsLeaveTheBackground) {
    QWidget host;
    // The main window's graph: 81 x 17, 20 bars of 10 cells, filled, black, minimum 1, Max 100.
    vfdDisplay* vfd = StripLayout::Graph(&host, QString(), QString(), 0);
    host.resize(120, 40);
    host.show();
    // One pixel column from the top row down: R red, Y yellow, G green, . black, ? anything else.
    const auto column = [vfd](int x) {
        const QImage image = Shot(*vfd);
        std::string cells;
        for (int y = 0; y < image.height(); ++y) {
            const qint32 c = ColourAt(image, x, y);
            cells += c == Red ? 'R' : c == Yellow ? 'Y' : c == Green ? 'G' : c == 0 ? '.' : '?';
        }
        return cells;
    };
    const std::vector<std::pair<qint32, std::string>> cases = {
        {25, "..............GGG"}, // 2 cells, not 3
        {35, "..........GGGGGGG"}, // 4 cells, not 3
        {-15, Blank},              // -2 cells: nothing at all
        {-5, Empty}};              // rounds to 0 cells: an empty bar
    for (const auto& [value, expected] : cases) {
        vfd->AddValue(value);
        EXPECT_EQ(column(Newest), expected) << value;
    }
    EXPECT_EQ(column(1), Empty);
    vfd->setMax(64);
    vfd->AddValue(1000);
    EXPECT_EQ(column(Newest), Lit64);
    vfd->AddValue(3);
    EXPECT_EQ(column(Newest), Empty);
    EXPECT_EQ(column(Previous), Lit64);
    vfd->AddValue(4);
    EXPECT_EQ(column(Newest), "...............GG");
    EXPECT_EQ(vfd->History().mid(16), QList<qint32>({-5, 64, 3, 4}));
    // Line speeds from a hand-edited rate and the rates of a counter that went back leave the
    // background and the control usable.
    const std::vector<std::tuple<const char*, qint32, qint32>> limits = {
        {"max = min", 1, 1}, {"max below min", 0, 10}, {"a count beyond 16 bits", 64, INT_MIN}};
    for (const auto& [name, max, value] : limits) {
        vfd->setMax(max);
        vfd->AddValue(value);
        EXPECT_EQ(column(Newest), Blank) << name;
    }
    vfd->setMax(64);
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), Lit64);
}

} // namespace
