#pragma once

#include <QImage>
#include <QWidget>

// A drawing surface with its own coordinate scale whose picture persists: drawing goes to an
// off-screen image that paintEvent only shows, so an expose or a resize keeps the last picture.
// Without a scale of its own it measures in twips. Mouse presses stop here.
class PictureBox final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PictureBox)

public:
    explicit PictureBox(QWidget* parent = nullptr);

    // Coordinates of the top-left and bottom-right corners; an axis may run backwards.
    void Scale(double left, double top, double right, double bottom);
    double ScaleLeft() const;
    double ScaleTop() const;
    double ScaleWidth() const;
    double ScaleHeight() const;

    qint32 BackColor() const { return backColor_; }
    // Like every change of the background, erases the picture.
    void SetBackColor(qint32 colour);
    void Cls();

    // A box with corners (x1, y1) and (x2, y2), both included, outlined in colour and, when filled,
    // filled with it.
    void Box(double x1, double y1, double x2, double y2, qint32 colour, bool filled);
    // A line from (x1, y1) up to, not including, (x2, y2).
    void Line(double x1, double y1, double x2, double y2, qint32 colour);
    void Refresh();

    // Outer size in twips.
    double Width() const;
    double Height() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void fitPicture();
    bool mapsToPixels() const;
    int deviceX(double x) const;
    int deviceY(double y) const;
    void fillPixels(int left, int top, int right, int bottom, QRgb rgb);

    QImage picture_;
    qint32 backColor_ = 0;
    bool userScale_ = false;
    // Kept in single precision, as the scale always was.
    float scaleLeft_ = 0.0F;
    float scaleTop_ = 0.0F;
    float scaleWidth_ = 0.0F;
    float scaleHeight_ = 0.0F;
};
