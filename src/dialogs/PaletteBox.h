#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// A picture box with a one-pixel border that shows a picture at its own size from the top-left
// corner of its inner area, on its background colour. Positions are twips from that corner.
// Mouse moves are reported with or without a button held (a press reports its place as a move
// without buttons, so the place of a click is always known); a left press and release inside the
// box is a click.
class PaletteBox final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PaletteBox)

public:
    static constexpr int BorderWidth = 1;

    explicit PaletteBox(QWidget* parent = nullptr);

    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& picture);
    qint32 BackColor() const { return backColor_; }
    void SetBackColor(qint32 colour);
    // Shown in the inner area while there is no picture.
    QString Notice() const { return notice_; }
    void SetNotice(const QString& notice);

    // The colour shown at (x, y) as red + 256 x green + 65536 x blue; -1 outside the inner area.
    qint32 Point(double x, double y) const;

signals:
    void MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x, double y);
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect inner() const;
    double twipsX(const QMouseEvent& event) const;
    double twipsY(const QMouseEvent& event) const;

    QImage picture_;
    qint32 backColor_ = 0;
    QString notice_;
    bool leftPressed_ = false;
};
