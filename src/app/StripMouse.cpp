#include "app/StripMouse.h"

#include "controls/TrayArea.h"
#include "platform/Twips.h"

#include <QMouseEvent>
#include <QWidget>

namespace {

int buttonOf(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int buttonsOf(Qt::MouseButtons buttons) {
    return (buttons.testFlag(Qt::LeftButton) ? 1 : 0) | (buttons.testFlag(Qt::RightButton) ? 2 : 0) |
           (buttons.testFlag(Qt::MiddleButton) ? 4 : 0);
}

} // namespace

StripMouse::StripMouse(QWidget& strip, Handlers handlers)
    : QObject(&strip), strip_(strip), handlers_(std::move(handlers)) {
    strip_.installEventFilter(this);
}

void StripMouse::dragsWith(QWidget& label) {
    label.installEventFilter(this);
    label.setProperty("dragsStrip", true);
}

void StripMouse::ignores(QWidget& label) {
    label.installEventFilter(this);
}

bool StripMouse::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonDblClick)
        return false;
    const bool strip = watched == &strip_;
    if (!strip && !watched->property("dragsStrip").toBool())
        return true;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const int shift = TrayArea::ShiftState(mouse->modifiers());
    onScreen_ = mouse->globalPosition();
    const auto x = float(mouse->position().x() * Twips::PerPixelX());
    const auto y = float(mouse->position().y() * Twips::PerPixelY());
    switch (type) {
    case QEvent::MouseButtonDblClick:
        if (strip)
            handlers_.doubleClick();
        break;
    case QEvent::MouseButtonPress:
        handlers_.down(buttonOf(mouse->button()), shift, x, y);
        break;
    case QEvent::MouseMove:
        handlers_.move(buttonsOf(mouse->buttons()), shift, x, y);
        break;
    default:
        handlers_.up(buttonOf(mouse->button()), shift, x, y);
        break;
    }
    return true;
}
