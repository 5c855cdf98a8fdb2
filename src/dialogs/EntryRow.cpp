#include "dialogs/EntryRow.h"

#include "platform/Convert.h"
#include "settings/ConnectionTable.h"

EntryRow EntryRow::From(const QJsonObject& answer) {
    EntryRow row;
    row.known = answer.value(QStringLiteral("known")).toBool(true);
    row.authorised = answer.value(QStringLiteral("authorised")).toBool();
    row.isDefault = answer.value(QStringLiteral("default")).toBool();
    row.speedType = qint16(answer.value(QStringLiteral("speed_type")).toInt());
    row.speedUp = qint16(answer.value(QStringLiteral("speed_up")).toInt(12));
    row.speedDown = qint16(answer.value(QStringLiteral("speed_down")).toInt(12));
    return row;
}

void EntryRow::Apply(qint16 fieldCode, const QJsonValue& value) {
    if (!known)
        return;
    const auto number = [&value] {
        return Convert::ToInt16(value.isString() ? Convert::LeadingNumber(value.toString()) : value.toDouble());
    };
    switch (fieldCode) {
    case Global::FieldAuthorised:
        authorised = value.toBool();
        break;
    case Global::FieldDefault:
        isDefault = Convert::TextToBoolean(value.toString());
        break;
    case Global::FieldSpeedType:
        speedType = number();
        break;
    case Global::FieldSpeedUp:
        speedUp = number();
        break;
    case Global::FieldSpeedDown:
        speedDown = number();
        break;
    default:
        break;
    }
}
