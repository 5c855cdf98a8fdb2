#include "platform/Accessibility.h"

#include "platform/Gradient.h"

#include <QAccessibleWidget>
#include <QLabel>

namespace Accessibility {
namespace {

constexpr char RoleProperty[] = "accessibleRole";

class RoleInterface final : public QAccessibleWidget {
public:
    RoleInterface(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QString text(QAccessible::Text t) const override {
        const QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            if (const auto* label = qobject_cast<const QLabel*>(widget()))
                return label->text();
        return text;
    }
};

// Asked before Qt's own factory, which was installed earlier; Qt keeps the answer per object.
QAccessibleInterface* byProperty(const QString&, QObject* object) {
    if (object == nullptr || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(RoleProperty);
    if (!role.isValid())
        return nullptr;
    return new RoleInterface(static_cast<QWidget*>(object), QAccessible::Role(role.toInt()));
}

} // namespace

void SetRole(QWidget& widget, QAccessible::Role role) {
    static const bool installed = (QAccessible::installFactory(byProperty), true);
    Q_UNUSED(installed);
    widget.setProperty(RoleProperty, int(role));
    // Setting up the widget may have made and kept Qt's own interface for it already.
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(&widget)));
}

QString ColourText(qint32 colour) {
    const QColor shown = Global::ToQColor(colour);
    return QStringLiteral("rosso %1, verde %2, blu %3").arg(shown.red()).arg(shown.green()).arg(shown.blue());
}

} // namespace Accessibility
