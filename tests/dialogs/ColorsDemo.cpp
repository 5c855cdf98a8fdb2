// Opens the colour picker on the default start colour, picks a colour from the palette with the
// mouse, darkens it a little and writes the dialog at twice its size.
#include "dialogs/Colors.h"
#include "dialogs/PaletteBox.h"
#include "dialogs/frmColors.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("colors-2x.png");

    Colors::state.ChosenColour = 255;
    frmColors picker;
    picker.show();
    // A press and a drag onto a light blue in the upper third of the palette.
    const QPointF point(1 + 110, 1 + 60);
    QMouseEvent press(QEvent::MouseButtonPress, point, picker.picTest->mapToGlobal(point), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(picker.picTest, &press);
    QMouseEvent move(QEvent::MouseMove, point, picker.picTest->mapToGlobal(point), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(picker.picTest, &move);
    picker.scrLight->setValue(225);

    const QImage shot = picker.grab().toImage();
    const QImage zoomed = shot.scaled(shot.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!zoomed.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("wrote %s (%d x %d); bars %d, %d, %d; light %d\n", qPrintable(path), zoomed.width(),
                zoomed.height(), picker.scrRed->value(), picker.scrGreen->value(), picker.scrBlue->value(),
                picker.scrLight->value());
    return 0;
}
