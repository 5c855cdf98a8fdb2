#include "dialogs/FilledShape.h"

#include "platform/Accessibility.h"
#include "platform/Gradient.h"

#include <QPainter>

FilledShape::FilledShape(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FilledShape::SetFillColor(qint32 colour) {
    setAccessibleDescription(Accessibility::ColourText(colour));
    if (colour == fillColor_)
        return;
    fillColor_ = colour;
    update();
}

void FilledShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.fillRect(rect().adjusted(1, 1, -1, -1), Global::ToQColor(fillColor_));
}
