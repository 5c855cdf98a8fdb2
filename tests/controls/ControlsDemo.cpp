// Paints both controls on a gradient strip and writes the picture at four times its size.
#include "controls/PictureBox.h"
#include "controls/PropertyBag.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "platform/Gradient.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("controls-4x.png");

    // The left part of the main window's strip: 2 px margin, the level bar, the graph.
    QWidget strip;
    strip.resize(190, 25);
    auto* background = new PictureBox(&strip);
    background->setGeometry(strip.rect());
    auto* bar = new quadBar(&strip);
    bar->setGeometry(4, 4, 93, 17);
    auto* vfd = new vfdDisplay(&strip);
    vfd->setGeometry(104, 4, 81, 17);
    strip.show();
    Global::PaintGradient(*background, 255, 65535);

    PropertyBag level;
    level.WriteProperty(QStringLiteral("Percent"), qint16(10), qint16(0));
    level.WriteProperty(QStringLiteral("BarColor"), qint32(0x008001), quadBar::DefaultBarColor);
    level.WriteProperty(QStringLiteral("HighLightColor"), qint32(0x00FF00), quadBar::DefaultHighLightColor);
    bar->ReadProperties(level);
    bar->resize(94, 17);
    bar->resize(93, 17);
    bar->setPercent(40);

    PropertyBag graph;
    graph.WriteProperty(QStringLiteral("MaxBars"), qint16(20), qint16(10));
    graph.WriteProperty(QStringLiteral("BackGround"), qint32(0), qint32(0x8000000Fu));
    graph.WriteProperty(QStringLiteral("FilledPixel"), true, false);
    graph.WriteProperty(QStringLiteral("PixelsPerBar"), qint16(10), qint16(8));
    vfd->ReadProperties(graph);
    vfd->setMax(64);
    // A rising and falling rate, then the worked example's 64, 3 and 4.
    for (qint32 value : {0, 8, 16, 24, 32, 40, 48, 56, 64, 56, 40, 24, 12, 6, -1, 30, 64, 3, 4})
        vfd->AddValue(value);

    const QImage shot = strip.grab().toImage();
    const QImage zoomed = shot.scaled(shot.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!zoomed.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("wrote %s (%d x %d)\n", qPrintable(path), zoomed.width(), zoomed.height());
    return 0;
}
