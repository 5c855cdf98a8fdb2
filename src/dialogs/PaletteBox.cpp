#include "dialogs/PaletteBox.h"

#include "platform/Gradient.h"
#include "platform/Twips.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

PaletteBox::PaletteBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void PaletteBox::SetPicture(const QImage& picture) {
    picture_ = picture.convertToFormat(QImage::Format_RGB32);
    update();
}

void PaletteBox::SetBackColor(qint32 colour) {
    backColor_ = colour;
    update();
}

void PaletteBox::SetNotice(const QString& notice) {
    notice_ = notice;
    update();
}

QRect PaletteBox::inner() const {
    return rect().adjusted(BorderWidth, BorderWidth, -BorderWidth, -BorderWidth);
}

qint32 PaletteBox::Point(double x, double y) const {
    const double px = std::floor(x / Twips::PerPixelX());
    const double py = std::floor(y / Twips::PerPixelY());
    if (!(px >= 0 && py >= 0 && px < inner().width() && py < inner().height()))
        return -1;
    const QColor shown = QRect(QPoint(0, 0), picture_.size()).contains(int(px), int(py))
                             ? QColor(picture_.pixel(int(px), int(py)))
                             : Global::ToQColor(backColor_);
    return shown.red() + 256 * shown.green() + 65536 * shown.blue();
}

void PaletteBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Shadow));
    const QRect area = inner();
    painter.fillRect(area, Global::ToQColor(backColor_));
    painter.setClipRect(area);
    if (!picture_.isNull()) {
        painter.drawImage(area.topLeft(), picture_);
        return;
    }
    if (!notice_.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area.adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap, notice_);
    }
}

double PaletteBox::twipsX(const QMouseEvent& event) const {
    return Twips::FromPixelsX(int(std::floor(event.position().x())) - BorderWidth);
}

double PaletteBox::twipsY(const QMouseEvent& event) const {
    return Twips::FromPixelsY(int(std::floor(event.position().y())) - BorderWidth);
}

void PaletteBox::mousePressEvent(QMouseEvent* event) {
    event->accept();
    emit MouseMove(Qt::NoButton, event->modifiers(), twipsX(*event), twipsY(*event));
    if (event->button() == Qt::LeftButton)
        leftPressed_ = true;
}

void PaletteBox::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    emit MouseMove(event->buttons(), event->modifiers(), twipsX(*event), twipsY(*event));
}

void PaletteBox::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !leftPressed_)
        return;
    leftPressed_ = false;
    if (rect().contains(event->position().toPoint()))
        emit Click();
}
