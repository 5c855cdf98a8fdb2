#include "app/StripLayout.h"

#include "controls/PropertyBag.h"
#include "controls/quadBar.h"
#include "controls/vfdDisplay.h"
#include "platform/Accessibility.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"

#include <QLabel>
#include <QPushButton>

namespace StripLayout {
QLabel* Label(QWidget* strip, const QString& name, const QString& caption, int left, int top, int width,
              int height, double pointSize) {
    auto* label = new QLabel(caption, strip);
    label->setObjectName(name);
    label->setFont(Subs::InterfaceFont(pointSize));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(Twips::Rect(left, top, width, height));
    return label;
}

QLabel* StatusLine(QWidget* strip) {
    QLabel* label =
        Label(strip, QStringLiteral("lblStatus"), QStringLiteral("Informazioni"), 0, 525, 7335, 195, 6.75);
    Accessibility::SetRole(*label, QAccessible::StatusBar);
    return label;
}

QPushButton* Button(QWidget* strip, const QString& name, const QString& caption, const QString& spoken,
                    const QString& toolTip, int left) {
    auto* button = new QPushButton(caption, strip);
    button->setObjectName(name);
    button->setAccessibleName(spoken);
    button->setToolTip(toolTip);
    button->setFont(Subs::InterfaceFont(8.25));
    button->setGeometry(Twips::Rect(left, 60, 255, 255));
    button->setFocusPolicy(Qt::NoFocus);
    button->setEnabled(false);
    return button;
}

quadBar* LevelBar(QWidget* strip, const QString& name, const QString& spoken, int left) {
    PropertyBag level;
    level.WriteProperty(QStringLiteral("Percent"), qint16(10), qint16(0));
    level.WriteProperty(QStringLiteral("BarColor"), qint32(0x008001), quadBar::DefaultBarColor);
    level.WriteProperty(QStringLiteral("HighLightColor"), qint32(0x00FF00), quadBar::DefaultHighLightColor);
    auto* bar = new quadBar(strip);
    bar->setObjectName(name);
    bar->setAccessibleName(spoken);
    Accessibility::SetRole(*bar, QAccessible::ProgressBar);
    bar->ReadProperties(level);
    bar->setGeometry(Twips::Rect(left, 60, 1395, 255));
    return bar;
}

vfdDisplay* Graph(QWidget* strip, const QString& name, const QString& spoken, int left) {
    PropertyBag graph;
    graph.WriteProperty(QStringLiteral("MaxBars"), qint16(20), qint16(10));
    graph.WriteProperty(QStringLiteral("BackGround"), qint32(0), qint32(0x8000000Fu));
    graph.WriteProperty(QStringLiteral("FilledPixel"), true, false);
    graph.WriteProperty(QStringLiteral("PixelsPerBar"), qint16(10), qint16(8));
    graph.WriteProperty(QStringLiteral("Min"), qint32(1), qint32(1));
    auto* vfd = new vfdDisplay(strip);
    vfd->setObjectName(name);
    vfd->setAccessibleName(spoken);
    Accessibility::SetRole(*vfd, QAccessible::Chart);
    vfd->ReadProperties(graph);
    vfd->setGeometry(Twips::Rect(left, 60, 1215, 255));
    return vfd;
}

} // namespace StripLayout
