#include "QtTestApplication.h"

#include "controls/TrayArea.h"

#include <QPixmap>

#include <gtest/gtest.h>

namespace {

using Operation = TrayArea::Operation;

// Stands in for the desktop: accepts an add of a new identifier and a change or removal of an
// icon it holds, refuses the rest, and writes down every call as "Add #1 M512 I T'tip' ok": the
// identifiers numbered in order of appearance, then what an add or change carries: M the callback
// message, I an empty icon or P a picture, T the tip.
class RecordingArea final : public TrayArea::NotificationArea {
public:
    RecordingArea(QStringList& calls, QList<quint16>& ids) : calls_(calls), ids_(ids) {}

    bool Notify(Operation operation, const TrayArea::Record& record) override {
        const bool held = shown_.contains(record.id);
        const bool accepted = operation == Operation::Add ? !held : held;
        if (accepted && operation == Operation::Add)
            shown_.append(record.id);
        if (accepted && operation == Operation::Delete)
            shown_.removeOne(record.id);
        if (!ids_.contains(record.id))
            ids_.append(record.id);
        QString call = QStringList{"Add", "Modify", "Delete"}[int(operation)] +
                       QStringLiteral(" #%1 ").arg(ids_.indexOf(record.id) + 1);
        const TrayArea::RecordFlags flags =
            operation == Operation::Delete ? TrayArea::RecordFlags() : record.flags;
        if (flags & TrayArea::MessageFlag)
            call += QStringLiteral("M%1 ").arg(record.callbackMessage);
        if (flags & TrayArea::IconFlag)
            call += record.icon.isNull() ? QStringLiteral("I ") : QStringLiteral("P ");
        if (flags & TrayArea::TipFlag)
            call += QStringLiteral("T'%1' ").arg(record.tip);
        calls_.append(call + (accepted ? "ok" : "refused"));
        return accepted;
    }
    bool Available() const override { return true; }

private:
    QStringList& calls_;
    QList<quint16>& ids_;
    QList<quint16> shown_;
};

} // namespace

// Hidden, the change of the tip is refused and the next add carries it, only spaces trimmed; each
// add has a fresh identifier; an ending control takes its icon away, one never shown has none to
// take.
TEST(TrayAreaTest, TheTipTravelsWithTheRecordAndEachAddHasItsOwnIconUntilTheEnd) {
    TrayArea::ResetIdentifiers();
    QStringList calls;
    QList<quint16> ids;
    auto never = std::make_unique<TrayArea>(nullptr, std::make_unique<RecordingArea>(calls, ids));
    auto control = std::make_unique<TrayArea>(nullptr, std::make_unique<RecordingArea>(calls, ids));
    control->setToolTip(QStringLiteral("  Norvale 4.3  "));
    for (const bool visible : {true, true, false, false, true})
        control->setVisible(visible);
    const QString longTip = QString(63, u'x') + QStringLiteral("😀 and more\t");
    control->setToolTip(longTip + u' '); // the area shows 64 characters of it, never half of one
    EXPECT_EQ(control->ToolTip(), longTip);
    QPixmap picture(16, 16);
    picture.fill(Qt::red);
    control->setIcon(QIcon(picture));
    control.reset();
    never.reset();
    EXPECT_EQ(calls, (QStringList{"Modify #1 T'Norvale 4.3' refused", "Add #2 M512 I T'Norvale 4.3' ok",
                                  "Delete #2 ok", "Add #3 M512 I T'Norvale 4.3' ok",
                                  "Modify #3 T'" + QString(63, u'x') + "' ok", "Modify #3 P ok",
                                  "Delete #3 ok", "Delete #1 refused"}));
    EXPECT_GE(std::min(ids.value(1), ids.value(2)), 1);
}
