#pragma once

#include <QFlags>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

class PropertyBag;

// One icon in the desktop's notification area. The host sets Icon, ToolTip and Visible and hears
// about mouse activity over the icon through four events. The control talks to the notification
// area through a narrow door, NotificationArea, so that tests can put a recording one in its place.
class TrayArea final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrayArea)

public:
    // Mouse messages reported over the icon; the first one is also the callback message.
    enum Message : int {
        MouseMoveMessage = 512,
        LeftDownMessage = 513,
        LeftUpMessage = 514,
        LeftDoubleClickMessage = 515,
        RightDownMessage = 516,
        RightUpMessage = 517,
        RightDoubleClickMessage = 518,
        MiddleDownMessage = 519,
        MiddleUpMessage = 520,
    };

    enum RecordFlag : int { MessageFlag = 1, IconFlag = 2, TipFlag = 4 };
    Q_DECLARE_FLAGS(RecordFlags, RecordFlag)

    enum class Operation : int { Add = 0, Modify = 1, Delete = 2 };

    // What the control last told the notification area; kept and reused for modify and delete.
    struct Record {
        QPointer<TrayArea> window; // receives the mouse messages
        quint16 id = 0;
        RecordFlags flags;
        int callbackMessage = 0;
        QIcon icon;
        QString tip;
    };

    class NotificationArea {
    public:
        virtual ~NotificationArea() = default;
        // Add, change or remove the icon named by record.id; false when the area refuses.
        virtual bool Notify(Operation operation, const Record& record) = 0;
        // Whether a notification area exists to show the icon at all.
        virtual bool Available() const = 0;
    };

    enum class Event { None, MouseMove, MouseDown, MouseUp, DblClick };
    struct Decoded {
        Event event = Event::None;
        int button = 0;
        float x = 0;
        float y = 0;
        bool operator==(const Decoded&) const = default;
    };

    // The event a mouse message raises. x and y are the cursor position in twips; a right press
    // reports the bottom of the screen instead of the cursor's y.
    static Decoded Decode(int message, float x, float y, float screenBottom);
    // The mouse messages a click reported by QSystemTrayIcon stands for, in order.
    static QList<int> MessagesFor(QSystemTrayIcon::ActivationReason reason);
    // Keyboard modifiers as the Shift argument: 1 Shift, 2 Ctrl, 4 Alt.
    static int ShiftState(Qt::KeyboardModifiers modifiers);

    // Identifiers come from one fixed pseudo-random sequence, the same on every run; tests
    // start it over here.
    static void ResetIdentifiers();

    // The 16 x 16 icon shipped next to the program.
    static constexpr const char* IconFileName = "norvale-tray.png";

    // Without an area the control uses the desktop's, through QSystemTrayIcon.
    explicit TrayArea(QObject* parent = nullptr, std::unique_ptr<NotificationArea> area = {});
    // Removes the icon, whether or not it was ever added.
    ~TrayArea() override;

    // None (no value) or a picture, which may be empty.
    const std::optional<QIcon>& Icon() const { return icon_; }
    QString ToolTip() const { return toolTip_; }
    bool Visible() const { return visible_; }
    const Record& LastRecord() const { return record_; }

    // False where the desktop has no notification area: a window hidden into it could not come
    // back, so the host keeps itself reachable.
    bool TrayAvailable() const;

    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    void setIcon(const std::optional<QIcon>& icon);

public slots:
    void setToolTip(const QString& toolTip);
    void setVisible(bool visible);
    // Mouse activity over the icon, as the notification area reports it: the message, the
    // cursor in pixels and the keyboard modifiers.
    void Callback(int message, QPoint cursor, Qt::KeyboardModifiers modifiers);

signals:
    void MouseMove();
    void MouseDown(int button, int shift, float x, float y);
    void MouseUp(int button);
    void DblClick();
    // A saved property changed: "Icon", "ToolTip" or "Visible".
    void PropertyChanged(const QString& key);

private:
    std::unique_ptr<NotificationArea> area_;
    std::optional<QIcon> icon_{QIcon()};
    QString toolTip_;
    bool visible_ = false;
    Record record_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TrayArea::RecordFlags)
