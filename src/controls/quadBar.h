#pragma once

#include <QImage>
#include <QList>
#include <QWidget>

class PropertyBag;

// Level bar: a row of small segments like an LED bar. The leftmost segments are lit in the
// highlight colour, the rest show the bar colour; the segment count follows the width and the
// lit count follows Percent. Measures in pixels.
class quadBar final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(quadBar)
    Q_PROPERTY(qint32 BarColor READ BarColor WRITE setBarColor)
    Q_PROPERTY(qint32 HighLightColor READ HighLightColor WRITE setHighLightColor)
    Q_PROPERTY(qint16 Percent READ Percent WRITE setPercent)

public:
    static constexpr qint32 DefaultBarColor = 0x008000;
    // Chosen to match what a new control holds, so that saving and reading it back changes nothing.
    static constexpr qint32 DefaultHighLightColor = 0;
    static constexpr qint32 GapColour = qint32(0x80000005u);     // system window colour
    static constexpr qint32 OutlineColour = qint32(0x80000008u); // system window-text colour

    explicit quadBar(QWidget* parent = nullptr);

    qint32 BarColor() const { return barColor_; }
    qint32 HighLightColor() const { return highLightColor_; }
    qint16 Percent() const { return percent_; }
    qint16 SegmentCount() const { return segmentCount_; }

    // First placement of a new control, as opposed to loading one from saved properties.
    void InitProperties();
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

public slots:
    void setBarColor(qint32 colour);
    void setHighLightColor(qint32 colour);
    void setPercent(qint16 percent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // One element of the segment array: a filled rectangle with a one-pixel outline inside it.
    struct Segment {
        int left = 0;
        int top = 0;
        int width = 5;
        int height = 13;
        qint32 fill = DefaultBarColor;
    };

    qint32 litCount(qint16 segments, qint16 percent) const;
    void layout();
    void redraw();

    QList<Segment> shpBar_{Segment{}};
    qint16 segmentCount_ = 0;
    qint32 highLightColor_ = 0;
    qint32 barColor_ = 0;
    qint16 percent_ = 0;
    bool laidOut_ = false;
    QImage picture_;
};
