#pragma once

#include <QCheckBox>

// A check box that reports mouse presses and releases around its own handling, so that a handler
// of its state change can tell a change made with the mouse (it runs between the two) from one
// made with the keyboard or by the program.
class PressCheckBox final : public QCheckBox {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PressCheckBox)

public:
    explicit PressCheckBox(QWidget* parent = nullptr) : QCheckBox(parent) {}

signals:
    void MouseDown();
    void MouseUp();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
