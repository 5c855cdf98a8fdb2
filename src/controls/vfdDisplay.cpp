#include "controls/vfdDisplay.h"

#include "controls/PictureBox.h"
#include "controls/PropertyBag.h"
#include "platform/Convert.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint16 DefaultBars = 10;
constexpr qint32 DefaultBackground = qint32(0x8000000Fu);
constexpr qint32 DefaultMax = 100;
constexpr qint32 DefaultMin = 1;
constexpr bool DefaultFilled = false;
constexpr qint16 DefaultPixelsPerBar = 8;

// Rounded quotient; a zero divisor gives 0, so that no bar or cell is drawn from it.
qint32 roundedQuotient(double dividend, double divisor) {
    return divisor == 0.0 ? 0 : Convert::ToInt32(dividend / divisor);
}

} // namespace

vfdDisplay::vfdDisplay(QWidget* parent) : QWidget(parent), picDisplay(new PictureBox(this)) {
    picDisplay->setObjectName(QStringLiteral("picDisplay"));
    picDisplay->setGeometry(contentsRect());
    picDisplay->SetBackColor(background_);
    ResetDisplay();
}

void vfdDisplay::setScale() {
    // Bars x 10 in 32 bits: a bar count past 3276 still gets a scale.
    picDisplay->Scale(0.0, max_, qint32(bars_) * 10, min_);
}

void vfdDisplay::ResetDisplay() {
    setScale();
    cellHeight_ = roundedQuotient(std::abs(picDisplay->ScaleHeight()), pixelsPerBar_);
    barWidth_ = roundedQuotient(std::abs(picDisplay->ScaleWidth()), bars_);
    history_ = QList<qint32>(std::max<qint16>(bars_, 0), 0);
}

void vfdDisplay::setBars(qint16 bars) {
    bars_ = bars;
    history_ = QList<qint32>(std::max<qint16>(bars_, 0), 0);
    // The scale stays as it was: the new bars share the old width until the next reset or resize.
    barWidth_ = roundedQuotient(std::abs(picDisplay->ScaleWidth()), bars_);
}

void vfdDisplay::setPixelsPerBar(qint16 pixelsPerBar) {
    pixelsPerBar_ = pixelsPerBar;
    cellHeight_ = roundedQuotient(std::abs(picDisplay->ScaleHeight()), pixelsPerBar_);
}

void vfdDisplay::setMax(qint32 max) {
    max_ = max;
    setScale();
    // One more before rounding than on every other path; the graphs have always been sized so.
    cellHeight_ =
        pixelsPerBar_ == 0 ? 0 : Convert::ToInt32(std::abs(picDisplay->ScaleHeight()) / pixelsPerBar_ + 1.0);
}

void vfdDisplay::setMin(qint32 min) {
    min_ = min;
    setScale();
    cellHeight_ = roundedQuotient(std::abs(picDisplay->ScaleHeight()), pixelsPerBar_);
}

void vfdDisplay::setBackColor(qint32 colour) {
    picDisplay->SetBackColor(colour);
    background_ = colour;
}

void vfdDisplay::setFilledPixel(bool filled) {
    filled_ = filled;
}

void vfdDisplay::resizeEvent(QResizeEvent*) {
    picDisplay->setGeometry(contentsRect());
    setScale();
    cellHeight_ = roundedQuotient(std::abs(picDisplay->ScaleHeight()), pixelsPerBar_);
    barWidth_ = roundedQuotient(std::abs(picDisplay->ScaleWidth()), bars_);
}

qint32 vfdDisplay::cellColour(int cell) const {
    if (cell >= pixelsPerBar_ - 2)
        return Red;
    if (cell >= pixelsPerBar_ - 4)
        return Yellow;
    return Green;
}

// Cells are drawn upwards (or downwards, for a negative cell height) from 0; past this many they
// lie wholly outside the surface, more than a pixel beyond its edge, and would draw nothing.
int vfdDisplay::reachableCells() const {
    const double top = picDisplay->ScaleTop();
    const double bottom = top + picDisplay->ScaleHeight();
    const int rows = std::max(picDisplay->height(), 1);
    const double onePixel = std::abs(picDisplay->ScaleHeight()) / rows;
    const double reach = (cellHeight_ > 0 ? std::max(top, bottom) : -std::min(top, bottom)) + onePixel;
    if (reach < 0.0)
        return 0;
    return int(std::min(std::floor(reach / std::abs(double(cellHeight_))) + 1.0, 32767.0));
}

void vfdDisplay::AddValue(qint32 value) {
    if (value > max_)
        value = max_;
    if (!history_.isEmpty()) {
        std::move(history_.begin() + 1, history_.end(), history_.begin());
        history_.back() = value;
    }
    picDisplay->Cls();
    // With a cell height of 0 no value can be counted in cells: only the background shows.
    if (cellHeight_ != 0) {
        const int reachable = reachableCells();
        for (int bar = 0; bar < history_.size(); ++bar)
            drawBar(bar, reachable);
    }
    picDisplay->Refresh();
}

void vfdDisplay::drawBar(int bar, int reachable) {
    const double left = double(bar) * barWidth_;
    const double right = left + barWidth_;
    // A count beyond 16 bits is held at its limit: a full bar, or nothing.
    const qint16 cells = Convert::ToInt16(double(history_[bar]) / cellHeight_);
    if (cells == 0) {
        // The bar exists but is empty: half a cell at the bottom edge.
        picDisplay->Box(left, min_, right, min_ + cellHeight_ / 2.0, Green, filled_);
        return;
    }
    const int drawn = std::min<int>(cells, reachable);
    for (int cell = 0; cell < drawn; ++cell) {
        const double y = double(cell) * cellHeight_;
        picDisplay->Box(left, y, right, y + cellHeight_, cellColour(cell), filled_);
    }
}

void vfdDisplay::ReadProperties(const PropertyBag& bag) {
    bars_ = bag.ReadInt16(u"MaxBars", DefaultBars);
    background_ = bag.ReadInt32(u"BackGround", DefaultBackground);
    picDisplay->SetBackColor(background_);
    max_ = bag.ReadInt32(u"Max", DefaultMax);
    min_ = bag.ReadInt32(u"Min", DefaultMin);
    filled_ = bag.ReadBoolean(u"FilledPixel", DefaultFilled);
    pixelsPerBar_ = bag.ReadInt16(u"PixelsPerBar", DefaultPixelsPerBar);
    ResetDisplay();
}

void vfdDisplay::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("MaxBars"), bars_, DefaultBars);
    bag.WriteProperty(QStringLiteral("BackGround"), background_, DefaultBackground);
    bag.WriteProperty(QStringLiteral("Max"), max_, DefaultMax);
    bag.WriteProperty(QStringLiteral("Min"), min_, DefaultMin);
    bag.WriteProperty(QStringLiteral("FilledPixel"), filled_, DefaultFilled);
    bag.WriteProperty(QStringLiteral("PixelsPerBar"), pixelsPerBar_, DefaultPixelsPerBar);
}
