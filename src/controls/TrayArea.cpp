#include "controls/TrayArea.h"

#include "controls/PropertyBag.h"
#include "platform/Twips.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace {

// Never seeded: the identifiers follow the same sequence on every run.
std::minstd_rand identifiers;

quint16 nextIdentifier() {
    using Engine = std::minstd_rand;
    const double unit = double(identifiers() - Engine::min()) / (double(Engine::max() - Engine::min()) + 1.0);
    return quint16(std::floor(unit * 65535.0 + 1.0));
}

std::optional<QIcon> iconFrom(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QIcon:
        return value.value<QIcon>();
    case QMetaType::QPixmap:
        return QIcon(value.value<QPixmap>());
    case QMetaType::QImage:
        return QIcon(QPixmap::fromImage(value.value<QImage>()));
    default:
        return std::nullopt;
    }
}

// The notification area's tooltip holds 64 characters; a longer text shows its first 64, never
// half a character.
QString tipField(const QString& text) {
    qsizetype length = std::min<qsizetype>(text.size(), qsizetype(64));
    if (length < text.size() && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

QString trimSpaces(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.sliced(first, last - first);
}

// The desktop's notification area: one QSystemTrayIcon per identifier added.
class DesktopArea final : public QObject, public TrayArea::NotificationArea {
public:
    DesktopArea() = default;

    bool Notify(TrayArea::Operation operation, const TrayArea::Record& record) override {
        const auto found = icons_.find(record.id);
        switch (operation) {
        case TrayArea::Operation::Add:
            if (found != icons_.end())
                return false;
            add(record);
            return true;
        case TrayArea::Operation::Modify:
            if (found == icons_.end())
                return false;
            apply(*found->second, record);
            return true;
        case TrayArea::Operation::Delete:
            if (found == icons_.end())
                return false;
            // It may be the icon whose click is being handled right now.
            found->second->hide();
            found->second->deleteLater();
            icons_.erase(found);
            return true;
        }
        return false;
    }

    bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

private:
    static void apply(QSystemTrayIcon& icon, const TrayArea::Record& record) {
        if (record.flags.testFlag(TrayArea::IconFlag))
            icon.setIcon(record.icon);
        if (record.flags.testFlag(TrayArea::TipFlag))
            icon.setToolTip(record.tip);
    }

    void add(const TrayArea::Record& record) {
        auto* icon = new QSystemTrayIcon(this);
        apply(*icon, record);
        const QPointer<TrayArea> window = record.window;
        if (record.flags.testFlag(TrayArea::MessageFlag)) {
            connect(icon, &QSystemTrayIcon::activated, this,
                    [window](QSystemTrayIcon::ActivationReason reason) {
                        const QPoint cursor = QCursor::pos();
                        const Qt::KeyboardModifiers modifiers = QGuiApplication::queryKeyboardModifiers();
                        for (const int message : TrayArea::MessagesFor(reason)) {
                            // A handler may have removed the icon or ended the control.
                            if (!window)
                                return;
                            window->Callback(message, cursor, modifiers);
                        }
                    });
        }
        icons_[record.id] = icon;
        icon->show();
    }

    std::map<quint16, QSystemTrayIcon*> icons_;
};

} // namespace

void TrayArea::ResetIdentifiers() {
    identifiers = std::minstd_rand();
}

TrayArea::Decoded TrayArea::Decode(int message, float x, float y, float screenBottom) {
    switch (message) {
    case MouseMoveMessage:
        return {Event::MouseMove};
    case LeftDownMessage:
        return {Event::MouseDown, 1, x, y};
    case LeftUpMessage:
        return {Event::MouseUp, 1};
    case LeftDoubleClickMessage:
        return {Event::DblClick};
    case RightDownMessage:
        return {Event::MouseDown, 2, x, screenBottom};
    case RightUpMessage:
        return {Event::MouseUp, 2};
    default:
        return {};
    }
}

QList<int> TrayArea::MessagesFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return {LeftDownMessage, LeftUpMessage};
    case QSystemTrayIcon::DoubleClick:
        // The first press of a double click arrives as a Trigger of its own.
        return {LeftDoubleClickMessage, LeftUpMessage};
    case QSystemTrayIcon::Context:
        return {RightDownMessage, RightUpMessage};
    case QSystemTrayIcon::MiddleClick:
        return {MiddleDownMessage, MiddleUpMessage};
    default:
        return {};
    }
}

int TrayArea::ShiftState(Qt::KeyboardModifiers modifiers) {
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) | (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

TrayArea::TrayArea(QObject* parent, std::unique_ptr<NotificationArea> area)
    : QObject(parent), area_(area ? std::move(area) : std::make_unique<DesktopArea>()) {
    record_.window = this;
}

TrayArea::~TrayArea() {
    area_->Notify(Operation::Delete, record_);
}

bool TrayArea::TrayAvailable() const {
    return area_->Available();
}

void TrayArea::setVisible(bool visible) {
    if (visible == visible_)
        return;
    visible_ = visible;
    if (visible) {
        record_.window = this;
        record_.id = nextIdentifier();
        record_.flags = MessageFlag;
        if (icon_) {
            record_.flags |= IconFlag;
            record_.icon = *icon_;
        }
        if (!toolTip_.isEmpty()) {
            record_.flags |= TipFlag;
            record_.tip = tipField(toolTip_);
        }
        record_.callbackMessage = MouseMoveMessage;
        area_->Notify(Operation::Add, record_);
    } else {
        // The record still names the icon of the last add.
        area_->Notify(Operation::Delete, record_);
    }
    emit PropertyChanged(QStringLiteral("Visible"));
}

void TrayArea::setIcon(const std::optional<QIcon>& icon) {
    icon_ = icon;
    if (!icon_) {
        setVisible(false);
    } else if (visible_) {
        record_.flags = IconFlag;
        record_.icon = *icon_;
        area_->Notify(Operation::Modify, record_);
    }
    emit PropertyChanged(QStringLiteral("Icon"));
}

void TrayArea::setToolTip(const QString& toolTip) {
    toolTip_ = trimSpaces(toolTip);
    record_.flags = TipFlag;
    record_.tip = tipField(toolTip_);
    // Refused by the area while no icon is shown; the next add carries the text.
    area_->Notify(Operation::Modify, record_);
    emit PropertyChanged(QStringLiteral("ToolTip"));
}

void TrayArea::Callback(int message, QPoint cursor, Qt::KeyboardModifiers modifiers) {
    const QScreen* screen = QGuiApplication::screenAt(cursor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const double bottom =
        screen ? Twips::FromPixelsY(screen->geometry().y() + screen->geometry().height()) : 0.0;
    const Decoded decoded = Decode(message, float(Twips::FromPixelsX(cursor.x())),
                                   float(Twips::FromPixelsY(cursor.y())), float(bottom));
    switch (decoded.event) {
    case Event::MouseMove:
        emit MouseMove();
        break;
    case Event::MouseDown:
        emit MouseDown(decoded.button, ShiftState(modifiers), decoded.x, decoded.y);
        break;
    case Event::MouseUp:
        emit MouseUp(decoded.button);
        break;
    case Event::DblClick:
        emit DblClick();
        break;
    case Event::None:
        break;
    }
}

void TrayArea::ReadProperties(const PropertyBag& bag) {
    icon_ = iconFrom(bag.ReadProperty(u"Icon", QVariant()));
    toolTip_ = bag.ReadProperty(u"ToolTip", QString()).toString();
    // Stored only: a saved True shows nothing until Visible is written False and then True.
    visible_ = bag.ReadBoolean(u"Visible", false);
}

void TrayArea::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("Icon"), icon_ ? QVariant::fromValue(*icon_) : QVariant(), QVariant());
    bag.WriteProperty(QStringLiteral("ToolTip"), toolTip_, QString());
    bag.WriteProperty(QStringLiteral("Visible"), visible_, false);
}
