#include "QtTestApplication.h"

#include "app/StripLayout.h"
#include "controls/PictureBox.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"

#include <gtest/gtest.h>

#include <climits>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

constexpr qint32 Red = vfdDisplay::Red, Yellow = vfdDisplay::Yellow, Green = vfdDisplay::Green;

class VfdDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.resize(120, 40);
        host.show();
    }

    // One pixel column from the top row down: R red, Y yellow, G green, . black, ? anything else.
    std::string column(int x) {
        const QImage image = Shot(*vfd);
        std::string cells;
        for (int y = 0; y < image.height(); ++y) {
            const qint32 c = ColourAt(image, x, y);
            cells += c == Red ? 'R' : c == Yellow ? 'Y' : c == Green ? 'G' : c == 0 ? '.' : '?';
        }
        return cells;
    }

    QWidget host;
    // The main window's graph: 81 x 17, 20 bars of 10 cells, filled, black, minimum 1, Max 100.
    vfdDisplay* vfd = StripLayout::Graph(&host, QString(), QString(), 0);
};

// At 81 pixels bar 19 covers columns 77-80 and bar 18 columns 73-76.
constexpr int Newest = 79, Previous = 75;
const std::string Empty = "................G"; // half a cell on the bottom row
const std::string Blank = ".................";
const std::string Lit64 = "RRRYYYYGGGGGGGGGG"; // cell 8 red, 7 and 6 yellow, 5 to 0 green

TEST_F(VfdDisplayTest, WorkedExampleOfTheMainWindow) {
    EXPECT_EQ(vfd->CellHeight(), 10);
    EXPECT_EQ(vfd->BarWidth(), 10);
    vfd->setMax(64);
    EXPECT_EQ(vfd->CellHeight(), 7);
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), Lit64);
    EXPECT_EQ(column(Previous), Empty);
    EXPECT_EQ(column(1), Empty);
    vfd->AddValue(3);
    EXPECT_EQ(column(Newest), Empty);
    EXPECT_EQ(column(Previous), Lit64);
    vfd->AddValue(4);
    EXPECT_EQ(column(Newest), "...............GG");

    // A resize drops the extra cell of the Max write and keeps the picture until the next value.
    const QImage before = Shot(*vfd);
    vfd->resize(81, 18);
    EXPECT_EQ(vfd->CellHeight(), 6);
    EXPECT_EQ(Shot(*vfd).copy(0, 0, 81, 17), before);
    EXPECT_EQ(column(Newest), "...............GG.");
    // 64 / 6 rounds to 11 cells; 9 and 10 reach past the top edge.
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), "RRRRRRYYYGGGGGGGGG");
}

TEST_F(VfdDisplayTest, ValuesRoundHalfToEvenClipAtMaxAndMayBeNegative) {
    const std::vector<std::pair<qint32, std::string>> cases = {
        {25, "..............GGG"}, // 2 cells, not 3
        {35, "..........GGGGGGG"}, // 4 cells, not 3
        {-15, Blank},              // -2 cells: nothing at all
        {-5, Empty}};              // rounds to 0 cells: an empty bar
    for (const auto& [value, expected] : cases) {
        vfd->AddValue(value);
        EXPECT_EQ(column(Newest), expected) << value;
    }
    vfd->setMax(64);
    vfd->AddValue(1000);
    EXPECT_EQ(column(Newest), Lit64);
    EXPECT_EQ(vfd->History().mid(16), QList<qint32>({35, -15, -5, 64}));
}

TEST_F(VfdDisplayTest, BarsWriteClearsTheHistoryAndKeepsTheOldScale) {
    vfd->setMax(64);
    for (int i = 0; i < 5; ++i)
        vfd->AddValue(64);
    vfd->setBars(20);
    EXPECT_EQ(vfd->History(), QList<qint32>(20, 0));
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), Lit64);
    for (int x : {Previous, 71, 1})
        EXPECT_EQ(column(x), Empty) << x;

    // Thirty bars on the old scale of twenty: 7 units each, the newest one past the right edge.
    vfd->setBars(30);
    EXPECT_EQ(vfd->BarWidth(), 7);
    vfd->AddValue(64);
    EXPECT_EQ(column(80), Empty);
    vfd->ResetDisplay();
    EXPECT_EQ(vfd->BarWidth(), 10);
    EXPECT_EQ(vfd->CellHeight(), 6);
    vfd->AddValue(64);
    EXPECT_EQ(column(80), "RRRRRYYYYGGGGGGGG");
}

TEST_F(VfdDisplayTest, OnlyTheBackgroundShowsBeforeTheNextValue) {
    vfd->AddValue(100);
    const QImage drawn = Shot(*vfd);
    vfd->setMax(64);
    vfd->setPixelsPerBar(5);
    vfd->setFilledPixel(false);
    EXPECT_EQ(Shot(*vfd), drawn);
    vfd->setBackColor(0xFFFFFF);
    EXPECT_EQ(column(Newest), "?????????????????");
}

TEST(VfdDisplayOutline, UnfilledCellsStayHollow) {
    QWidget host;
    auto* vfd = new vfdDisplay(&host);
    vfd->setGeometry(0, 0, 200, 100);
    host.show();
    // As created: 10 bars of 8 cells from 100 down to 1. The newest bar's cell 2 spans
    // columns 180-199 and rows 65-77.
    vfd->AddValue(100);
    const QImage image = Shot(*vfd);
    EXPECT_EQ((std::vector{ColourAt(image, 180, 71), ColourAt(image, 190, 77), ColourAt(image, 190, 71)}),
              (std::vector{Green, Green, 0}));
    vfd->setFilledPixel(true);
    vfd->AddValue(100);
    EXPECT_EQ(ColourAt(Shot(*vfd), 190, 71), Green);
}

TEST_F(VfdDisplayTest, LimitsLeaveTheBackgroundAndTheControlUsable) {
    vfd->setMax(64);
    vfd->setBars(5000); // bars x 10 beyond 16 bits
    vfd->ResetDisplay();
    vfd->AddValue(64);
    EXPECT_EQ(vfd->History().back(), 64);
    struct Case {
        const char* name;
        qint16 bars, pixelsPerBar;
        qint32 min, max, value;
    };
    for (const Case& c : std::vector<Case>{{"no bars", 0, 10, 1, 64, 10},
                                           {"cell height 0", 20, 0, 1, 64, 64},
                                           {"negative cells: counts turn round", 20, -3, 1, 64, INT_MIN},
                                           {"max = min", 20, 10, 1, 1, 1},
                                           {"rounded(4 / 10) = 0", 20, 10, 1, 5, 5},
                                           {"a count beyond 16 bits", 20, 10, 1, 64, INT_MIN}}) {
        vfd->setBars(c.bars);
        vfd->ResetDisplay();
        vfd->setPixelsPerBar(c.pixelsPerBar);
        vfd->setMax(c.max);
        vfd->setMin(c.min);
        vfd->AddValue(c.value);
        EXPECT_EQ(column(Newest), Blank) << c.name;
    }
    vfd->setMax(64);
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), Lit64);
    // Three pixels per bar start yellow and turn red.
    vfd->setPixelsPerBar(3);
    EXPECT_EQ(vfd->CellHeight(), 21);
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), "RRRRRRRRRRRRRYYYY");
}

// A press on a control must not reach the window under it, which would start dragging.
TEST_F(VfdDisplayTest, MousePressesStayInTheControls) {
    struct Counter final : QObject {
        int presses = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            presses += event->type() == QEvent::MouseButtonPress;
            return false;
        }
    } counter;
    host.installEventFilter(&counter);
    QtTestApplication::Mouse(*vfd->picDisplay, QEvent::MouseButtonPress, QPointF(2, 2));
    QtTestApplication::Mouse(*new quadBar(&host), QEvent::MouseButtonPress, QPointF(2, 2));
    EXPECT_EQ(counter.presses, 0);
}

} // namespace
