#include "QtTestApplication.h"

#include "dialogs/Colors.h"
#include "dialogs/FilledShape.h"
#include "dialogs/PaletteBox.h"
#include "dialogs/frmColors.h"
#include "platform/Gradient.h"
#include "platform/Twips.h"
#include "settings/Global.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <vector>

using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

constexpr qint32 rgb(int r, int g, int b) {
    return r + 256 * g + 65536 * b;
}

std::array<int, 3> bars(const frmColors& d) {
    return {d.scrRed->value(), d.scrGreen->value(), d.scrBlue->value()};
}

// A mouse event on the palette at pixel (x, y) of its picture.
void mouse(PaletteBox& box, QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons held) {
    const QPointF local(x + PaletteBox::BorderWidth + 0.5, y + PaletteBox::BorderWidth + 0.5);
    QMouseEvent event(type, local, box.mapToGlobal(local), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &event);
}

void drag(PaletteBox& box, int x, int y) {
    mouse(box, QEvent::MouseMove, x, y, Qt::NoButton, Qt::LeftButton);
}

void click(PaletteBox& box, int x, int y) {
    mouse(box, QEvent::MouseButtonPress, x, y, Qt::LeftButton, Qt::LeftButton);
    mouse(box, QEvent::MouseButtonRelease, x, y, Qt::LeftButton, Qt::NoButton);
}

class ColourPicker : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Twips::PerPixelX(), 15.0);
        ASSERT_EQ(Twips::PerPixelY(), 15.0);
        Global::Reset();
        Colors::Reset();
    }
    void TearDown() override {
        Colors::Reset();
        Global::Reset();
    }
};

TEST_F(ColourPicker, OpensOnTheChosenColourAndOkGivesItBack) {
    Colors::state.ChosenColour = 0x00FF00;
    frmColors d;
    EXPECT_EQ(bars(d), (std::array{0, 255, 0}));
    EXPECT_EQ(d.shpTest->FillColor(), 0x00FF00);
    EXPECT_EQ(d.picTest->BackColor(), 0x00FF00);
    EXPECT_EQ(d.scrLight->value(), 0);
    EXPECT_EQ(d.LastLight(), 0);
    d.cmdOk->click();
    EXPECT_EQ(Colors::state.ChosenColour, 0x00FF00);
    EXPECT_EQ(d.result(), QDialog::Accepted);

    // A system colour has no channels: the bars take the colour it shows.
    Colors::state.ChosenColour = qint32(0x8000000Fu);
    frmColors face;
    const QColor shown = Global::ToQColor(qint32(0x8000000Fu));
    EXPECT_EQ(bars(face), (std::array{shown.red(), shown.green(), shown.blue()}));
}

TEST_F(ColourPicker, LightBarMovesEveryChannelThatHasRoom) {
    Colors::state.ChosenColour = rgb(100, 200, 250);
    frmColors d;
    d.scrLight->setValue(10);
    EXPECT_EQ(bars(d), (std::array{110, 210, 250}));
    EXPECT_EQ(Colors::state.ChosenColour, rgb(110, 210, 250));
    EXPECT_EQ(d.shpTest->FillColor(), rgb(110, 210, 250));
    EXPECT_EQ(d.LastLight(), 10);
    d.scrLight->setValue(0);
    EXPECT_EQ(bars(d), (std::array{100, 200, 240}));
    EXPECT_EQ(Colors::state.ChosenColour, rgb(100, 200, 240));

    // A dragged light bar counts once, where it is let go: blue at 240 has no room for 20, though
    // it had room for the positions passed on the way.
    d.scrLight->setSliderDown(true);
    for (int position : {5, 10, 15, 20})
        d.scrLight->setSliderPosition(position);
    EXPECT_EQ(bars(d), (std::array{100, 200, 240}));
    d.scrLight->setSliderDown(false);
    EXPECT_EQ(bars(d), (std::array{120, 220, 240}));
    EXPECT_EQ(d.LastLight(), 20);
}

TEST_F(ColourPicker, AnnullaAndEscAnswerCancelledWhateverWasDone) {
    Colors::state.ChosenColour = rgb(1, 2, 3);
    frmColors d;
    drag(*d.picTest, 10, 10);
    d.scrRed->setValue(9);
    d.cmdAnnulla->click();
    EXPECT_EQ(Colors::state.ChosenColour, Colors::Cancelled);
    EXPECT_EQ(d.result(), QDialog::Rejected);

    Colors::state.ChosenColour = rgb(1, 2, 3);
    frmColors escaped;
    escaped.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&escaped, &escape);
    EXPECT_EQ(Colors::state.ChosenColour, Colors::Cancelled);
    EXPECT_FALSE(escaped.isVisible());
}

TEST_F(ColourPicker, DragPicksKeepsThePickedColourAndOkTakesTheBars) {
    Colors::state.ChosenColour = 0x00FF00;
    frmColors d;
    // Moving without the button only remembers the place.
    mouse(*d.picTest, QEvent::MouseMove, 0, 0, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(bars(d), (std::array{0, 255, 0}));

    mouse(*d.picTest, QEvent::MouseButtonPress, 0, 0, Qt::LeftButton, Qt::LeftButton);
    drag(*d.picTest, 0, 0);
    // The light bar went from 0 to 255 without lifting green and blue by 255.
    EXPECT_EQ(bars(d), (std::array{255, 0, 0}));
    EXPECT_EQ(d.scrLight->value(), 255);
    EXPECT_EQ(d.LastLight(), 255);
    EXPECT_EQ(Colors::state.ChosenColour, rgb(255, 0, 0));
    drag(*d.picTest, 0, 93);
    EXPECT_EQ(bars(d), (std::array{191, 64, 64}));
    EXPECT_EQ(d.shpTest->FillColor(), rgb(191, 64, 64));
    EXPECT_EQ(Colors::state.ChosenColour, rgb(191, 64, 64));
    // Darker from the picked colour, in equal steps.
    d.scrLight->setValue(245);
    EXPECT_EQ(bars(d), (std::array{181, 54, 54}));

    // A channel bar changes the sample, not ChosenColour; "OK" takes the bars.
    drag(*d.picTest, 0, 0);
    d.scrGreen->setValue(40);
    EXPECT_EQ(d.shpTest->FillColor(), rgb(255, 40, 0));
    EXPECT_EQ(Colors::state.ChosenColour, rgb(255, 0, 0));
    d.cmdOk->click();
    EXPECT_EQ(Colors::state.ChosenColour, rgb(255, 40, 0));
}

TEST_F(ColourPicker, DragOverBlackOrOutsideIsPassedOver) {
    Colors::state.ChosenColour = 0x00FF00;
    frmColors d;
    QImage picture(175, 187, QImage::Format_RGB32);
    picture.fill(Qt::black);
    picture.setPixel(100, 100, qRgb(10, 20, 30));
    d.picTest->SetPicture(picture);
    drag(*d.picTest, 100, 100);
    d.scrLight->setValue(250);
    ASSERT_EQ(bars(d), (std::array{5, 15, 25}));

    drag(*d.picTest, 50, 50);
    EXPECT_EQ(Colors::state.ChosenColour, 0);
    for (auto [x, y] : std::vector<std::pair<int, int>>{{175, 10}, {10, 187}, {-1, 10}, {400, 400}}) {
        drag(*d.picTest, x, y);
        EXPECT_EQ(Colors::state.ChosenColour, -1) << x << "," << y;
    }
    EXPECT_EQ(bars(d), (std::array{5, 15, 25}));
    EXPECT_EQ(d.shpTest->FillColor(), rgb(5, 15, 25));
    EXPECT_EQ(d.scrLight->value(), 250);
    d.cmdOk->click();
    EXPECT_EQ(Colors::state.ChosenColour, rgb(5, 15, 25));
}

TEST_F(ColourPicker, ClickPicksWherePressedBlackIncluded) {
    Colors::state.ChosenColour = rgb(10, 20, 30);
    frmColors d;
    // Just opened, light bar at 0: the clicked colour comes out as picked.
    click(*d.picTest, 0, 93);
    EXPECT_EQ(bars(d), (std::array{191, 64, 64}));
    EXPECT_EQ(d.scrLight->value(), 255);
    EXPECT_EQ(Colors::state.ChosenColour, rgb(191, 64, 64));
    d.scrLight->setValue(205);
    EXPECT_EQ(bars(d), (std::array{141, 14, 14}));
    // A second pick starts again from 255.
    click(*d.picTest, 0, 0);
    EXPECT_EQ(bars(d), (std::array{255, 0, 0}));
    EXPECT_EQ(Colors::state.ChosenColour, rgb(255, 0, 0));
    // Released outside the box: no click.
    mouse(*d.picTest, QEvent::MouseButtonPress, 0, 186, Qt::LeftButton, Qt::LeftButton);
    mouse(*d.picTest, QEvent::MouseButtonRelease, 300, 186, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(bars(d), (std::array{255, 0, 0}));

    QImage black(175, 187, QImage::Format_RGB32);
    black.fill(Qt::black);
    d.picTest->SetPicture(black);
    click(*d.picTest, 5, 5);
    EXPECT_EQ(bars(d), (std::array{0, 0, 0}));
    EXPECT_EQ(Colors::state.ChosenColour, 0);
}

TEST_F(ColourPicker, LayoutFrameAndTabOrder) {
    frmColors d;
    EXPECT_EQ(d.windowTitle(), QStringLiteral(" Selezione colore"));
    EXPECT_EQ(d.minimumSize(), QSize(184, 316));
    EXPECT_EQ(d.maximumSize(), QSize(184, 316));
    EXPECT_TRUE(d.isModal());
    EXPECT_FALSE(d.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint));

    const std::vector<std::pair<QWidget*, QRect>> places = {
        {d.picTest, {4, 4, 177, 189}},  {d.scrLight, {4, 196, 13, 81}},   {d.shpTest, {168, 196, 13, 81}},
        {d.Shape1, {20, 196, 145, 25}}, {d.Shape2, {20, 224, 145, 25}},   {d.Shape3, {20, 252, 145, 25}},
        {d.scrRed, {24, 200, 137, 17}}, {d.scrGreen, {24, 228, 137, 17}}, {d.scrBlue, {24, 256, 137, 17}},
        {d.cmdOk, {4, 280, 85, 33}},    {d.cmdAnnulla, {96, 280, 85, 33}}};
    for (const auto& [widget, place] : places)
        EXPECT_EQ(widget->geometry(), place) << widget->metaObject()->className();
    EXPECT_EQ(d.scrLight->orientation(), Qt::Vertical);
    EXPECT_EQ(d.picTest->Picture().size(), QSize(175, 187));

    const std::vector<QWidget*> expected = {d.scrRed,     d.scrGreen, d.scrBlue, d.cmdOk,
                                            d.cmdAnnulla, d.picTest,  d.scrLight};
    std::vector<QWidget*> stops;
    QWidget* widget = d.scrRed;
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            stops.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != d.scrRed && stops.size() < 20);
    EXPECT_EQ(stops, expected);
}

TEST_F(ColourPicker, ShowsPaletteSampleAndBackdrops) {
    Colors::state.ChosenColour = rgb(100, 200, 250);
    frmColors d;
    d.show();
    QImage shot = Shot(d);
    // The palette inside the box's border at its own size, the sample, each bar's backdrop.
    EXPECT_EQ(ColourAt(shot, 5, 5), rgb(255, 0, 0));
    EXPECT_EQ(ColourAt(shot, 5, 5 + 93), rgb(191, 64, 64));
    EXPECT_EQ(ColourAt(shot, 5, 5 + 186), rgb(132, 123, 123));
    EXPECT_EQ(ColourAt(shot, 174, 236), rgb(100, 200, 250));
    EXPECT_EQ(ColourAt(shot, 22, 210), rgb(255, 0, 0));
    EXPECT_EQ(ColourAt(shot, 22, 238), rgb(0, 192, 0));
    EXPECT_EQ(ColourAt(shot, 22, 266), rgb(0, 0, 255));
    d.scrLight->setValue(10);
    EXPECT_EQ(ColourAt(Shot(d), 174, 236), rgb(110, 210, 250));
}

TEST_F(ColourPicker, WithoutItsPictureThePaletteSaysSoAndShowsItsBackground) {
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    Global::state.AppFolder = empty.path() + QLatin1Char('/');
    Colors::state.ChosenColour = rgb(10, 20, 30);
    frmColors d;
    EXPECT_TRUE(d.picTest->Picture().isNull());
    EXPECT_TRUE(d.picTest->Notice().contains(QStringLiteral("palette.png")));
    d.show();
    EXPECT_EQ(ColourAt(Shot(d), 6, 6), rgb(10, 20, 30));
    click(*d.picTest, 1, 1);
    EXPECT_EQ(bars(d), (std::array{10, 20, 30}));
}

TEST_F(ColourPicker, ShowModalFollowsTheCallingProtocol) {
    const auto shownPicker = []() -> frmColors* {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* picker = qobject_cast<frmColors*>(widget); picker && picker->isVisible())
                return picker;
        return nullptr;
    };
    Colors::state.ChosenColour = rgb(1, 2, 3);
    bool seen = false;
    QTimer::singleShot(0, [&] {
        if (frmColors* picker = shownPicker()) {
            seen = true;
            picker->scrRed->setValue(77);
            picker->cmdOk->click();
        }
    });
    frmColors::ShowModal(nullptr);
    ASSERT_TRUE(seen);
    EXPECT_EQ(Colors::state.ChosenColour, rgb(77, 2, 3));
    EXPECT_EQ(shownPicker(), nullptr);
}

} // namespace
