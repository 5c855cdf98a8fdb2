#pragma once

#include <QObject>
#include <QPointF>

#include <functional>

class QWidget;

// Turns Qt's mouse events on the strip, and on the labels that drag it, into the strip's handlers:
// buttons as 1 left, 2 right, 4 middle, the shift state, and the position in twips in the watched
// widget's own coordinates. The strip's other labels keep the mouse to themselves.
class StripMouse final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StripMouse)

public:
    using Handler = std::function<void(int button, int shift, float x, float y)>;
    struct Handlers {
        Handler down, move, up;
        std::function<void()> doubleClick;
    };

    StripMouse(QWidget& strip, Handlers handlers);

    // A label whose presses drag the strip; a double click on it does nothing.
    void dragsWith(QWidget& label);
    // A label that takes no part.
    void ignores(QWidget& label);
    // The pointer on the screen at the event being handled, in pixels. A drag is measured with it:
    // back-to-back motion events come before the window manager has moved the window, so positions
    // in the window would count each step again.
    QPointF OnScreen() const { return onScreen_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& strip_;
    Handlers handlers_;
    QPointF onScreen_;
};
