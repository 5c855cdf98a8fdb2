#pragma once

#include <QWidget>

// A rectangle filled with one colour inside a thin black outline.
class FilledShape final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FilledShape)

public:
    explicit FilledShape(QWidget* parent = nullptr);

    qint32 FillColor() const { return fillColor_; }
    void SetFillColor(qint32 colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qint32 fillColor_ = 0;
};
