#include "controls/quadBar.h"

#include "controls/PropertyBag.h"
#include "platform/Convert.h"
#include "platform/Gradient.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

quadBar::quadBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    redraw();
}

void quadBar::InitProperties() {
    segmentCount_ = 1;
    shpBar_[0].left = 0;
    shpBar_[0].top = 0;
    redraw();
}

qint32 quadBar::litCount(qint16 segments, qint16 percent) const {
    const qint32 lit = Convert::ToInt32(double(segments) / 100.0 * percent);
    return std::min<qint32>(lit, segments);
}

void quadBar::setPercent(qint16 percent) {
    const qint32 lit = litCount(segmentCount_, percent);
    percent_ = percent;
    for (int i = 0; i < segmentCount_ && i < shpBar_.size(); ++i)
        shpBar_[i].fill = i < lit ? highLightColor_ : barColor_;
    redraw();
}

void quadBar::setBarColor(qint32 colour) {
    // Lit segments too: they show the bar colour until the next Percent or layout.
    for (int i = 0; i < segmentCount_ && i < shpBar_.size(); ++i)
        shpBar_[i].fill = colour;
    barColor_ = colour;
    redraw();
}

void quadBar::setHighLightColor(qint32 colour) {
    highLightColor_ = colour;
}

void quadBar::layout() {
    laidOut_ = true;
    const QRect inner = contentsRect();
    Segment& first = shpBar_[0];
    const qint32 pitch = Convert::ToInt32(first.width + 1.0);
    first.height = inner.height();
    shpBar_.resize(1);
    // A pitch of 0 could not count segments: that step is skipped and the old count stays.
    if (pitch > 0)
        segmentCount_ = Convert::ToInt16(std::floor(double(inner.width()) / pitch));
    const qint32 lit = litCount(segmentCount_, percent_);
    shpBar_[0].fill = lit > 0 ? highLightColor_ : barColor_;
    for (int i = 1; i < segmentCount_; ++i) {
        Segment next = shpBar_[0];
        next.left = shpBar_[i - 1].left + pitch;
        next.height = inner.height();
        next.fill = i < lit ? highLightColor_ : barColor_;
        shpBar_.append(next);
    }
    redraw();
}

void quadBar::redraw() {
    const QSize wanted = size().expandedTo(QSize(0, 0));
    if (picture_.size() != wanted)
        picture_ = QImage(wanted, QImage::Format_RGB32);
    if (picture_.isNull())
        return;
    picture_.fill(Global::ToQColor(GapColour));
    QPainter painter(&picture_);
    const QPoint origin = contentsRect().topLeft();
    const QColor outline = Global::ToQColor(OutlineColour);
    for (const Segment& segment : shpBar_) {
        if (segment.width <= 0 || segment.height <= 0)
            continue;
        const QRect box(origin.x() + segment.left, origin.y() + segment.top, segment.width, segment.height);
        painter.fillRect(box, outline);
        if (segment.width > 2 && segment.height > 2)
            painter.fillRect(box.adjusted(1, 1, -1, -1), Global::ToQColor(segment.fill));
    }
    update();
}

void quadBar::ReadProperties(const PropertyBag& bag) {
    barColor_ = bag.ReadInt32(u"BarColor", DefaultBarColor);
    percent_ = bag.ReadInt16(u"Percent", 0);
    highLightColor_ = bag.ReadInt32(u"HighLightColor", DefaultHighLightColor);
    shpBar_[0].fill = barColor_;
    redraw();
}

void quadBar::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("Percent"), percent_, qint16(0));
    bag.WriteProperty(QStringLiteral("BarColor"), barColor_, DefaultBarColor);
    bag.WriteProperty(QStringLiteral("HighLightColor"), highLightColor_, DefaultHighLightColor);
}

void quadBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void quadBar::resizeEvent(QResizeEvent*) {
    layout();
}

void quadBar::showEvent(QShowEvent*) {
    if (!laidOut_)
        layout();
}

void quadBar::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
void quadBar::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}
void quadBar::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}
void quadBar::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}
