#include "QtTestApplication.h"

#include "dialogs/Colors.h"
#include "dialogs/FilledShape.h"
#include "dialogs/PaletteBox.h"
#include "dialogs/frmColors.h"
#include "settings/Global.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using QtTestApplication::ColourAt;
using QtTestApplication::Mouse;
using QtTestApplication::Shot;
using QtTestApplication::Shown;

namespace {

constexpr qint32 rgb(int r, int g, int b) {
    return r + 256 * g + 65536 * b;
}

QString channels(qint32 c) {
    return c < 0 ? QString::number(c)
                 : QStringLiteral("%1,%2,%3").arg(c & 0xFF).arg((c >> 8) & 0xFF).arg(c >> 16);
}

// The channel bars, the light bar and the last light counted, the sample, ChosenColour.
QString look(const frmColors& d) {
    return QStringLiteral("%1,%2,%3 light %4/%5 sample %6 chosen %7")
        .arg(d.scrRed->value())
        .arg(d.scrGreen->value())
        .arg(d.scrBlue->value())
        .arg(d.scrLight->value())
        .arg(d.LastLight())
        .arg(channels(d.shpTest->FillColor()), channels(Colors::state.ChosenColour));
}

// Pixel (x, y) of the palette's picture, inside its border.
QPointF at(int x, int y) {
    return {x + PaletteBox::BorderWidth + 0.5, y + PaletteBox::BorderWidth + 0.5};
}

void drag(PaletteBox& box, int x, int y) {
    Mouse(box, QEvent::MouseMove, at(x, y), Qt::LeftButton);
}

class ColourPicker : public ::testing::Test {
protected:
    void SetUp() override {
        Global::Reset();
        Colors::Reset();
    }
};

// Annulla and Esc answer cancelled whatever was done; Return presses no button.
TEST_F(ColourPicker, LightBarMovesEveryChannelThatHasRoomAndAnnullaOrEscCancel) {
    Colors::state.ChosenColour = rgb(0, 200, 245);
    frmColors d;
    d.show();
    // The palette at its own size, from its first to its last row.
    EXPECT_EQ(ColourAt(Shot(d), 5, 5), rgb(255, 0, 0));
    EXPECT_EQ(ColourAt(Shot(d), 5, 191), rgb(132, 123, 123));
    // Each channel moves up to 255 and down to 0 included.
    d.scrLight->setValue(10);
    EXPECT_EQ(look(d), "10,210,255 light 10/10 sample 10,210,255 chosen 10,210,255");
    EXPECT_EQ(ColourAt(Shot(d), 174, 236), rgb(10, 210, 255));
    d.scrLight->setValue(0);
    EXPECT_EQ(look(d), "0,200,245 light 0/0 sample 0,200,245 chosen 0,200,245");
    // A dragged light bar counts once, where it is let go: blue at 245 has no room for 20, though
    // it had room for the first positions passed on the way.
    d.scrLight->setSliderDown(true);
    for (int position : {5, 10, 15, 20})
        d.scrLight->setSliderPosition(position);
    EXPECT_EQ(look(d).left(9), "0,200,245");
    d.scrLight->setSliderDown(false);
    EXPECT_EQ(look(d), "20,220,245 light 20/20 sample 20,220,245 chosen 20,220,245");
    QtTestApplication::Key(d, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_TRUE(d.isVisible());
    QtTestApplication::Key(d, Qt::Key_Escape);
    EXPECT_EQ(Colors::state.ChosenColour, Colors::Cancelled);
    EXPECT_FALSE(d.isVisible());

    // A system colour has no channels: the bars take the colour it shows. Without its picture the
    // palette says so and shows that colour, which a click picks.
    QTemporaryDir empty;
    Global::state.AppFolder = empty.path() + QLatin1Char('/');
    Colors::state.ChosenColour = qint32(0x8000000Fu);
    frmColors face;
    const QString shown = channels(Shown(qint32(0x8000000Fu)));
    EXPECT_EQ(look(face).left(shown.size()), shown);
    EXPECT_TRUE(face.picTest->Notice().contains(QStringLiteral("palette.png")));
    face.show();
    EXPECT_EQ(channels(ColourAt(Shot(face), 6, 6)), shown);
    face.scrRed->setValue(0);
    QtTestApplication::Click(*face.picTest, at(1, 1));
    EXPECT_EQ(look(face).left(shown.size()), shown);
    drag(*face.picTest, 10, 10);
    face.cmdAnnulla->click();
    EXPECT_EQ(Colors::state.ChosenColour, Colors::Cancelled);
    EXPECT_EQ(face.result(), QDialog::Rejected);
}

TEST_F(ColourPicker, DragAndClickPickOkTakesTheBarsBlackOrOutsideIsPassedOver) {
    Colors::state.ChosenColour = 0x00FF00;
    frmColors d;
    // Moving without the button only remembers the place.
    Mouse(*d.picTest, QEvent::MouseMove, at(0, 0), Qt::NoButton);
    EXPECT_EQ(look(d).left(7), "0,255,0");
    // The light bar goes from 0 to 255 without lifting green and blue by 255.
    Mouse(*d.picTest, QEvent::MouseButtonPress, at(0, 0));
    const std::vector<std::tuple<int, int, int, QString>> steps = {
        {0, 0, -1, "255,0,0 light 255/255 sample 255,0,0 chosen 255,0,0"},
        {0, 93, -1, "191,64,64 light 255/255 sample 191,64,64 chosen 191,64,64"},
        // Darker from the picked colour, in equal steps.
        {-1, -1, 245, "181,54,54 light 245/245 sample 181,54,54 chosen 181,54,54"},
        {0, 0, -1, "255,0,0 light 255/255 sample 255,0,0 chosen 255,0,0"}};
    for (const auto& [x, y, light, expected] : steps) {
        if (light < 0)
            drag(*d.picTest, x, y);
        else
            d.scrLight->setValue(light);
        EXPECT_EQ(look(d), expected);
    }
    // A channel bar changes the sample, not ChosenColour.
    d.scrGreen->setValue(40);
    EXPECT_EQ(look(d), "255,40,0 light 255/255 sample 255,40,0 chosen 255,0,0");
    // A click picks where pressed and starts again from 255; released outside the box it is none.
    d.scrLight->setValue(205);
    QtTestApplication::Click(*d.picTest, at(0, 93));
    EXPECT_EQ(look(d), "191,64,64 light 255/255 sample 191,64,64 chosen 191,64,64");
    Mouse(*d.picTest, QEvent::MouseButtonPress, at(0, 0));
    Mouse(*d.picTest, QEvent::MouseButtonRelease, at(300, 186), Qt::NoButton);
    EXPECT_EQ(look(d).left(9), "191,64,64");

    QImage picture(175, 187, QImage::Format_RGB32);
    picture.fill(Qt::black);
    picture.setPixel(100, 100, qRgb(10, 20, 30));
    d.picTest->SetPicture(picture);
    drag(*d.picTest, 100, 100);
    d.scrLight->setValue(250);
    ASSERT_EQ(look(d), "5,15,25 light 250/250 sample 5,15,25 chosen 5,15,25");
    drag(*d.picTest, 50, 50);
    EXPECT_EQ(look(d), "5,15,25 light 250/250 sample 5,15,25 chosen 0,0,0");
    for (auto [x, y] : std::vector<std::pair<int, int>>{{175, 10}, {10, 187}, {-1, 10}}) {
        drag(*d.picTest, x, y);
        EXPECT_EQ(look(d), "5,15,25 light 250/250 sample 5,15,25 chosen -1") << x << "," << y;
    }
    d.cmdOk->click();
    EXPECT_EQ(Colors::state.ChosenColour, rgb(5, 15, 25));
    // A click on black picks black.
    QtTestApplication::Click(*d.picTest, at(5, 5));
    EXPECT_EQ(look(d), "0,0,0 light 255/255 sample 0,0,0 chosen 0,0,0");
}

} // namespace
