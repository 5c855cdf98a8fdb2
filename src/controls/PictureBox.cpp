#include "controls/PictureBox.h"

#include "platform/Accessibility.h"
#include "platform/Convert.h"
#include "platform/Gradient.h"
#include "platform/Twips.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    fitPicture();
}

void PictureBox::Scale(double left, double top, double right, double bottom) {
    userScale_ = true;
    scaleLeft_ = float(left);
    scaleTop_ = float(top);
    scaleWidth_ = float(right - left);
    scaleHeight_ = float(bottom - top);
}

double PictureBox::ScaleLeft() const {
    return userScale_ ? scaleLeft_ : 0.0;
}
double PictureBox::ScaleTop() const {
    return userScale_ ? scaleTop_ : 0.0;
}
double PictureBox::ScaleWidth() const {
    return userScale_ ? scaleWidth_ : Width();
}
double PictureBox::ScaleHeight() const {
    return userScale_ ? scaleHeight_ : Height();
}

double PictureBox::Width() const {
    return Twips::FromPixelsX(width());
}
double PictureBox::Height() const {
    return Twips::FromPixelsY(height());
}

void PictureBox::SetBackColor(qint32 colour) {
    backColor_ = colour;
    setAccessibleDescription(Accessibility::ColourText(colour));
    Cls();
}

void PictureBox::Cls() {
    fitPicture();
    picture_.fill(Global::ToQColor(backColor_));
    update();
}

void PictureBox::Refresh() {
    update();
}

// A coordinate maps to a pixel as (c - origin) x pixels / scale extent, rounded half to even like
// every other conversion to a whole number here; a box covers the pixels of both of its corners.
// With 17 rows for values 64 down to 1 this puts a cell of 7 on two or three rows, the upper one
// shared with the next cell, which is drawn later and wins.
bool PictureBox::mapsToPixels() const {
    return !picture_.isNull() && ScaleWidth() != 0.0 && ScaleHeight() != 0.0;
}

int PictureBox::deviceX(double x) const {
    return Convert::ToInt32((x - ScaleLeft()) * picture_.width() / ScaleWidth());
}

int PictureBox::deviceY(double y) const {
    return Convert::ToInt32((y - ScaleTop()) * picture_.height() / ScaleHeight());
}

void PictureBox::fillPixels(int left, int top, int right, int bottom, QRgb rgb) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, picture_.width() - 1);
    bottom = std::min(bottom, picture_.height() - 1);
    if (left > right || top > bottom)
        return;
    for (int row = top; row <= bottom; ++row) {
        auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(row));
        std::fill(line + left, line + right + 1, rgb);
    }
}

void PictureBox::Box(double x1, double y1, double x2, double y2, qint32 colour, bool filled) {
    fitPicture();
    if (!mapsToPixels())
        return;
    int left = deviceX(x1), right = deviceX(x2), top = deviceY(y1), bottom = deviceY(y2);
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    const QRgb rgb = Global::ToQColor(colour).rgb();
    if (filled || right - left < 2 || bottom - top < 2) {
        fillPixels(left, top, right, bottom, rgb);
        return;
    }
    fillPixels(left, top, right, top, rgb);
    fillPixels(left, bottom, right, bottom, rgb);
    fillPixels(left, top + 1, left, bottom - 1, rgb);
    fillPixels(right, top + 1, right, bottom - 1, rgb);
}

void PictureBox::Line(double x1, double y1, double x2, double y2, qint32 colour) {
    fitPicture();
    if (!mapsToPixels())
        return;
    const int ax = deviceX(x1), ay = deviceY(y1), bx = deviceX(x2), by = deviceY(y2);
    const QRgb rgb = Global::ToQColor(colour).rgb();
    if (ay == by) {
        if (ax != bx)
            fillPixels(std::min(ax, bx + 1), ay, std::max(ax, bx - 1), ay, rgb);
        return;
    }
    if (ax == bx) {
        fillPixels(ax, std::min(ay, by + 1), ax, std::max(ay, by - 1), rgb);
        return;
    }
    QPainter painter(&picture_);
    painter.setPen(QColor::fromRgb(rgb));
    painter.drawLine(ax, ay, bx, by);
}

void PictureBox::fitPicture() {
    const QSize wanted = size().expandedTo(QSize(0, 0));
    if (picture_.size() == wanted)
        return;
    QImage next(wanted, QImage::Format_RGB32);
    if (next.isNull()) {
        picture_ = QImage();
        return;
    }
    next.fill(Global::ToQColor(backColor_));
    if (!picture_.isNull()) {
        QPainter painter(&next);
        painter.drawImage(0, 0, picture_);
    }
    picture_ = std::move(next);
}

void PictureBox::paintEvent(QPaintEvent*) {
    fitPicture();
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void PictureBox::resizeEvent(QResizeEvent*) {
    fitPicture();
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}
void PictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}
void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}
