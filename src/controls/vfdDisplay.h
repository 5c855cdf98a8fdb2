#pragma once

#include <QList>
#include <QWidget>

class PictureBox;
class PropertyBag;

// Scrolling bar graph drawn like a vacuum-fluorescent display: each value written to AddValue
// enters as the newest bar on the right and pushes the oldest one out on the left. Bars are
// stacks of cells, green at the bottom, yellow just below the top, red at the top.
class vfdDisplay final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(vfdDisplay)
    Q_PROPERTY(qint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(qint16 Bars READ Bars WRITE setBars)
    Q_PROPERTY(bool FilledPixel READ FilledPixel WRITE setFilledPixel)
    Q_PROPERTY(qint32 Max READ Max WRITE setMax)
    Q_PROPERTY(qint32 Min READ Min WRITE setMin)
    Q_PROPERTY(qint16 PixelsPerBar READ PixelsPerBar WRITE setPixelsPerBar)

public:
    static constexpr qint32 Red = 0x0000FF;
    static constexpr qint32 Yellow = 0x00FFFF;
    static constexpr qint32 Green = 0x00FF00;

    explicit vfdDisplay(QWidget* parent = nullptr);

    qint32 BackColor() const { return background_; }
    qint16 Bars() const { return bars_; }
    bool FilledPixel() const { return filled_; }
    qint32 Max() const { return max_; }
    qint32 Min() const { return min_; }
    qint16 PixelsPerBar() const { return pixelsPerBar_; }

    // Derived sizes and the values shown, oldest first.
    qint32 BarWidth() const { return barWidth_; }
    qint32 CellHeight() const { return cellHeight_; }
    const QList<qint32>& History() const { return history_; }

    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    // The one drawing surface, filling the control.
    PictureBox* const picDisplay;

public slots:
    void AddValue(qint32 value);
    void ResetDisplay();
    void setBackColor(qint32 colour);
    void setBars(qint16 bars);
    void setFilledPixel(bool filled);
    void setMax(qint32 max);
    void setMin(qint32 min);
    void setPixelsPerBar(qint16 pixelsPerBar);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setScale();
    qint32 cellColour(int cell) const;
    int reachableCells() const;
    void drawBar(int bar, int reachable);

    qint16 bars_ = 10;
    qint16 pixelsPerBar_ = 8;
    qint32 max_ = 100;
    qint32 min_ = 1;
    qint32 background_ = 0;
    bool filled_ = false;
    QList<qint32> history_;
    qint32 barWidth_ = 0;
    qint32 cellHeight_ = 0;
};
