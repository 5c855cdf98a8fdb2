#include "QtTestApplication.h"

#include "controls/PictureBox.h"
#include "controls/PropertyBag.h"
#include "controls/vfdDisplay.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <climits>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

constexpr qint32 Black = 0;
constexpr qint32 Red = vfdDisplay::Red;
constexpr qint32 Yellow = vfdDisplay::Yellow;
constexpr qint32 Green = vfdDisplay::Green;

// The main window's instances: 81 x 17 pixels, 20 bars of 10 cells, filled, black, minimum 1.
PropertyBag mainWindowBag() {
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("MaxBars"), qint16(20), qint16(10));
    bag.WriteProperty(QStringLiteral("BackGround"), qint32(0), qint32(0x8000000Fu));
    bag.WriteProperty(QStringLiteral("Min"), qint32(1), qint32(1));
    bag.WriteProperty(QStringLiteral("FilledPixel"), true, false);
    bag.WriteProperty(QStringLiteral("PixelsPerBar"), qint16(10), qint16(8));
    return bag;
}

class HostWidget final : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

class VfdDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.resize(120, 40);
        vfd->setGeometry(0, 0, 81, 17);
        host.show();
        vfd->ReadProperties(mainWindowBag());
    }

    // Colours of one pixel column from the top row down.
    std::vector<qint32> column(int x) {
        const QImage image = Shot(*vfd);
        std::vector<qint32> colours;
        for (int y = 0; y < image.height(); ++y)
            colours.push_back(ColourAt(image, x, y));
        return colours;
    }

    static std::vector<qint32> rows(std::initializer_list<std::pair<int, qint32>> bands) {
        std::vector<qint32> colours;
        for (const auto& [count, colour] : bands)
            colours.insert(colours.end(), count, colour);
        return colours;
    }

    HostWidget host;
    vfdDisplay* vfd = new vfdDisplay(&host);
};

// Bar 19 covers pixel columns 77 to 80, bar 18 columns 73 to 76.
constexpr int Newest = 79;
constexpr int Previous = 75;

TEST_F(VfdDisplayTest, WorkedExampleOfTheMainWindow) {
    EXPECT_EQ(vfd->CellHeight(), 10);
    EXPECT_EQ(vfd->BarWidth(), 10);
    vfd->setMax(64);
    EXPECT_EQ(vfd->CellHeight(), 7);

    vfd->AddValue(64);
    // Nine cells: red 8 on rows 0-2, yellow 7 and 6 on rows 3-6, green 5 down to 0 below.
    EXPECT_EQ(column(Newest), rows({{3, Red}, {4, Yellow}, {10, Green}}));
    // Every older bar is empty and shows half a cell on the bottom row.
    EXPECT_EQ(column(Previous), rows({{16, Black}, {1, Green}}));
    EXPECT_EQ(column(1), rows({{16, Black}, {1, Green}}));

    vfd->AddValue(3);
    EXPECT_EQ(column(Newest), rows({{16, Black}, {1, Green}}));
    EXPECT_EQ(column(Previous), rows({{3, Red}, {4, Yellow}, {10, Green}}));

    vfd->AddValue(4);
    EXPECT_EQ(column(Newest), rows({{15, Black}, {2, Green}}));
    EXPECT_EQ(vfd->History().mid(17), QList<qint32>({64, 3, 4}));
}

TEST_F(VfdDisplayTest, ResizeDropsTheExtraCellOfTheMaxWriteAndKeepsThePicture) {
    vfd->setMax(64);
    vfd->AddValue(64);
    const QImage before = Shot(*vfd);

    vfd->resize(81, 18);
    EXPECT_EQ(vfd->CellHeight(), 6);
    EXPECT_EQ(vfd->BarWidth(), 10);
    const QImage after = Shot(*vfd);
    ASSERT_EQ(after.height(), 18);
    EXPECT_EQ(after.copy(0, 0, 81, 17), before);
    for (int x = 0; x < 81; ++x)
        EXPECT_EQ(ColourAt(after, x, 17), Black) << x;

    // 64 / 6 rounds to 11 cells; 9 and 10 stand above the top edge and are cut there.
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), rows({{6, Red}, {3, Yellow}, {9, Green}}));
}

TEST_F(VfdDisplayTest, HalvesGoToTheEvenCellCount) {
    // Cell height 10: rows 14-16 hold two cells, rows 10-16 four.
    vfd->AddValue(25);
    EXPECT_EQ(column(Newest), rows({{14, Black}, {3, Green}}));
    vfd->AddValue(35);
    EXPECT_EQ(column(Newest), rows({{10, Black}, {7, Green}}));
    EXPECT_EQ(column(Previous), rows({{14, Black}, {3, Green}}));
}

TEST_F(VfdDisplayTest, ValueAboveMaxIsStoredAndDrawnAsMax) {
    vfd->setMax(64);
    vfd->AddValue(1000);
    EXPECT_EQ(vfd->History().back(), 64);
    EXPECT_EQ(column(Newest), rows({{3, Red}, {4, Yellow}, {10, Green}}));
}

TEST_F(VfdDisplayTest, NegativeValueIsKeptAndDrawsNothing) {
    vfd->AddValue(-15);
    EXPECT_EQ(vfd->History().back(), -15);
    EXPECT_EQ(column(Newest), rows({{17, Black}}));
    EXPECT_EQ(column(Previous), rows({{16, Black}, {1, Green}}));
    // -5 / 10 rounds to 0 cells, which is an empty bar.
    vfd->AddValue(-5);
    EXPECT_EQ(column(Newest), rows({{16, Black}, {1, Green}}));
    EXPECT_EQ(column(Previous), rows({{17, Black}}));
}

TEST_F(VfdDisplayTest, BarsWriteClearsTheHistoryAndKeepsTheOldScale) {
    vfd->setMax(64);
    for (int i = 0; i < 5; ++i)
        vfd->AddValue(64);
    vfd->setBars(20);
    EXPECT_EQ(vfd->History(), QList<qint32>(20, 0));
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), rows({{3, Red}, {4, Yellow}, {10, Green}}));
    for (int x : {Previous, 71, 67, 1})
        EXPECT_EQ(column(x), rows({{16, Black}, {1, Green}})) << x;

    // Thirty bars on the scale of twenty: 7 units each, so the newest one lies past the right
    // edge until the next reset gives them a scale of their own.
    vfd->setBars(30);
    EXPECT_EQ(vfd->BarWidth(), 7);
    vfd->AddValue(64);
    const QImage stale = Shot(*vfd);
    for (int x = 0; x < stale.width(); ++x) {
        for (int y = 0; y < stale.height(); ++y)
            ASSERT_NE(ColourAt(stale, x, y), Red) << x << "," << y;
    }
    EXPECT_EQ(column(80), rows({{16, Black}, {1, Green}}));
    vfd->ResetDisplay();
    EXPECT_EQ(vfd->BarWidth(), 10);
    // The reset also drops the extra cell of the Max write: cell height 6, 11 cells.
    EXPECT_EQ(vfd->CellHeight(), 6);
    vfd->AddValue(64);
    EXPECT_EQ(column(80), rows({{5, Red}, {4, Yellow}, {8, Green}}));
    EXPECT_EQ(column(77), rows({{16, Black}, {1, Green}}));
}

TEST_F(VfdDisplayTest, ThreePixelsPerBarStartYellowAndTurnRed) {
    vfd->setMax(64);
    vfd->setPixelsPerBar(3);
    EXPECT_EQ(vfd->CellHeight(), 21);
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), rows({{13, Red}, {4, Yellow}}));
}

TEST_F(VfdDisplayTest, WritesShowFromTheNextValueExceptTheBackground) {
    vfd->AddValue(100);
    const QImage drawn = Shot(*vfd);
    vfd->setMax(64);
    vfd->setMin(0);
    vfd->setPixelsPerBar(5);
    vfd->setFilledPixel(false);
    EXPECT_EQ(Shot(*vfd), drawn);
    EXPECT_EQ(vfd->History().back(), 100);

    vfd->setBackColor(0x800000);
    EXPECT_EQ(column(Newest), rows({{17, 0x800000}}));
    EXPECT_EQ(vfd->BackColor(), 0x800000);
}

TEST(VfdDisplayOutline, UnfilledCellsStayHollow) {
    QWidget host;
    host.resize(220, 120);
    auto* vfd = new vfdDisplay(&host);
    vfd->setGeometry(0, 0, 200, 100);
    host.show();
    // As created: 10 bars of 8 cells, 100 to 1, outlines on black.
    EXPECT_EQ(vfd->CellHeight(), 12);
    EXPECT_EQ(vfd->BarWidth(), 10);
    vfd->AddValue(100);
    // The newest bar spans columns 180-199; cell 2 spans rows 65-77.
    QImage image = Shot(*vfd);
    EXPECT_EQ(ColourAt(image, 180, 71), Green);
    EXPECT_EQ(ColourAt(image, 190, 77), Green);
    EXPECT_EQ(ColourAt(image, 190, 71), Black);
    vfd->setFilledPixel(true);
    vfd->AddValue(100);
    image = Shot(*vfd);
    EXPECT_EQ(ColourAt(image, 190, 71), Green);
}

TEST_F(VfdDisplayTest, LimitsNeverBreakTheControl) {
    vfd->setMax(64);
    // No bars: only the background, and no history to shift.
    vfd->setBars(0);
    vfd->AddValue(10);
    EXPECT_TRUE(vfd->History().isEmpty());
    EXPECT_EQ(column(Newest), rows({{17, Black}}));
    vfd->setBars(-3);
    vfd->AddValue(10);
    EXPECT_EQ(vfd->BarWidth(), -67);

    // More bars than a 16-bit bars x 10 could hold: a wider scale, sub-pixel bars.
    vfd->setBars(5000);
    vfd->ResetDisplay();
    vfd->AddValue(64);
    EXPECT_EQ(vfd->History().size(), 5000);
    EXPECT_EQ(vfd->History().back(), 64);

    vfd->setBars(20);
    vfd->ResetDisplay();
    // No cells per bar: the cell height is 0 and nothing but the background is drawn.
    vfd->setPixelsPerBar(0);
    EXPECT_EQ(vfd->CellHeight(), 0);
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), rows({{17, Black}}));
    // Negative cells per bar turn the cell height round: positive values count below zero.
    vfd->setPixelsPerBar(-3);
    vfd->AddValue(64);
    vfd->AddValue(INT_MIN);
    EXPECT_EQ(column(Newest), rows({{17, Black}}));
    vfd->setPixelsPerBar(10);

    // Max equal to min: no scale to draw on.
    vfd->setMax(1);
    vfd->AddValue(1);
    EXPECT_EQ(column(Newest), rows({{17, Black}}));
    // Too few values for one cell: cell height 0.
    vfd->setMax(5);
    vfd->setMin(1);
    EXPECT_EQ(vfd->CellHeight(), 0);
    vfd->AddValue(5);
    EXPECT_EQ(column(Newest), rows({{17, Black}}));

    // A count beyond 16 bits is held at the limit: nothing for a huge negative value.
    vfd->setMax(64);
    vfd->AddValue(INT_MIN);
    EXPECT_EQ(column(Newest), rows({{17, Black}}));
    vfd->setMin(INT_MIN);
    vfd->setMax(INT_MAX);
    vfd->AddValue(INT_MAX);

    // Back to sane values, the control draws as before.
    vfd->setMin(1);
    vfd->setMax(64);
    vfd->AddValue(64);
    EXPECT_EQ(column(Newest), rows({{3, Red}, {4, Yellow}, {10, Green}}));
}

TEST_F(VfdDisplayTest, MousePressesStayOnTheSurface) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(vfd->picDisplay, &press);
    EXPECT_EQ(host.presses, 0);
}

TEST(VfdDisplayProperties, SavedAndReadInOrderWithoutDefaults) {
    vfdDisplay created;
    PropertyBag fresh;
    created.WriteProperties(fresh);
    // Created black, while the stored default is the button face.
    EXPECT_EQ(fresh.Names(), QStringList({"BackGround"}));

    vfdDisplay source;
    source.ReadProperties(mainWindowBag());
    source.setMin(0);
    source.setMax(64);
    PropertyBag saved;
    source.WriteProperties(saved);
    EXPECT_EQ(saved.Names(),
              QStringList({"MaxBars", "BackGround", "Max", "Min", "FilledPixel", "PixelsPerBar"}));
    EXPECT_EQ(saved.ReadProperty(u"min", 1), QVariant(0));

    vfdDisplay copy;
    copy.ReadProperties(saved);
    EXPECT_EQ(copy.Bars(), 20);
    EXPECT_EQ(copy.BackColor(), 0);
    EXPECT_EQ(copy.Max(), 64);
    EXPECT_EQ(copy.Min(), 0);
    EXPECT_TRUE(copy.FilledPixel());
    EXPECT_EQ(copy.PixelsPerBar(), 10);
    EXPECT_EQ(copy.History(), QList<qint32>(20, 0));
    EXPECT_EQ(copy.CellHeight(), 6);
    PropertyBag again;
    copy.WriteProperties(again);
    EXPECT_EQ(again, saved);

    // Back to the defaults: nothing is left stored.
    copy.setBars(10);
    copy.setBackColor(qint32(0x8000000Fu));
    copy.setMax(100);
    copy.setMin(1);
    copy.setFilledPixel(false);
    copy.setPixelsPerBar(8);
    copy.WriteProperties(again);
    EXPECT_EQ(again.Count(), 0);
}

TEST(PropertyBag, NamesIgnoreCaseAndAbsentNamesGiveTheDefault) {
    PropertyBag bag;
    EXPECT_EQ(bag.ReadInt32(u"Max", 100), 100);
    bag.WriteProperty(QStringLiteral("Max"), 64, 100);
    EXPECT_EQ(bag.ReadInt32(u"MAX", 100), 64);
    bag.WriteProperty(QStringLiteral("max"), 70, 100);
    EXPECT_EQ(bag.Names(), QStringList({"Max"}));
    EXPECT_EQ(bag.ReadInt32(u"Max", 100), 70);
    bag.WriteProperty(QStringLiteral("MAX"), 100, 100);
    EXPECT_FALSE(bag.Contains(u"max"));

    // Texts, as a hand-written bag holds them; colours may come unsigned.
    bag.WriteProperty(QStringLiteral("FilledPixel"), QStringLiteral("True"), false);
    bag.WriteProperty(QStringLiteral("PixelsPerBar"), QStringLiteral(" 12.5"), qint16(8));
    bag.WriteProperty(QStringLiteral("BackGround"), 0x8000000Fu, qint32(0));
    EXPECT_TRUE(bag.ReadBoolean(u"filledpixel", false));
    EXPECT_EQ(bag.ReadInt16(u"PixelsPerBar", 8), 12);
    EXPECT_EQ(bag.ReadInt32(u"BackGround", 0), qint32(0x8000000Fu));
    EXPECT_EQ(bag.ReadInt16(u"Huge", 8), 8);
    bag.WriteProperty(QStringLiteral("Huge"), 1e9, 0);
    EXPECT_EQ(bag.ReadInt16(u"Huge", 8), 32767);
}

} // namespace
