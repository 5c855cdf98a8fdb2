#include "platform/WindowHelpers.h"

#include "platform/Gradient.h"
#include "platform/Twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace Subs {
namespace {

// Turns away close requests from the window manager; the program's own close() still works.
class CloseRefusal final : public QObject {
public:
    explicit CloseRefusal(QObject* parent) : QObject(parent) { setObjectName(Name); }

    static constexpr auto Name = "norvale-close-refusal";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && event->spontaneous()) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

bool ChangeWindowFlags(QWidget& window, Qt::WindowFlags set, Qt::WindowFlags clear) {
    if (!window.isWindow())
        return false;
    const Qt::WindowFlags flags = (window.windowFlags() | set) & ~clear;
    if (QWindow* handle = window.windowHandle()) {
        // In place: same native window, same place, still shown. QWidget learns the new flags
        // without passing them on, which would hide and re-create the window.
        handle->setFlags(flags);
        window.overrideWindowFlags(flags);
        return true;
    }
    // Not on the screen yet: nothing to re-create, but keep the position the window was given
    // (one never placed stays for the window manager to place).
    const QPoint position = window.pos();
    const bool placed = window.testAttribute(Qt::WA_Moved);
    window.setWindowFlags(flags);
    if (placed)
        window.move(position);
    return true;
}

bool SetTopMost(QWidget& window, bool on) {
    return on ? ChangeWindowFlags(window, Qt::WindowStaysOnTopHint, {})
              : ChangeWindowFlags(window, {}, Qt::WindowStaysOnTopHint);
}

void CentreWindow(QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect whole = screen->geometry();
    const QRect outer = window.frameGeometry();
    const double left = Twips::FromPixelsX(whole.width()) / 2.0 - Twips::FromPixelsX(outer.width()) / 2.0;
    const double top = Twips::FromPixelsY(whole.height()) / 2.0 - Twips::FromPixelsY(outer.height()) / 2.0;
    window.move(whole.x() + Twips::ToPixelsX(left), whole.y() + Twips::ToPixelsY(top));
}

void RemoveCloseItem(QWidget& window) {
    if (!window.isWindow())
        return;
    // Without CustomizeWindowHint Qt puts the default buttons back.
    ChangeWindowFlags(window, Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint,
                      Qt::WindowCloseButtonHint);
    // Some window managers keep their close button whatever the window asks (openbox does): there
    // it does nothing, as a removed Close item would.
    if (!window.findChild<QObject*>(QLatin1String(CloseRefusal::Name), Qt::FindDirectChildrenOnly))
        window.installEventFilter(new CloseRefusal(&window));
}

QFont InterfaceFont(double pointSize, bool condensed) {
    QFont font(condensed ? QStringLiteral("DejaVu Sans Condensed") : QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(pointSize);
    return font;
}

QLabel* RedTitleCopy(QLabel& title) {
    auto* copy = new QLabel(title.text(), title.parentWidget());
    copy->setObjectName(title.objectName() + QStringLiteral("1"));
    copy->setFont(title.font());
    copy->setAlignment(title.alignment());
    copy->setToolTip(title.toolTip());
    QPalette palette = copy->palette();
    palette.setColor(QPalette::WindowText, Global::ToQColor(255));
    copy->setPalette(palette);
    copy->setGeometry(title.geometry().translated(Twips::ToPixelsX(20), Twips::ToPixelsY(20)));
    copy->raise();
    copy->show();
    return copy;
}

} // namespace Subs
