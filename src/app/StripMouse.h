#pragma once

#include <QObject>

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& strip_;
    Handlers handlers_;
};
