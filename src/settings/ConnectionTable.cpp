#include "settings/ConnectionTable.h"

#include "platform/Convert.h"
#include "dialer/DialerControl.h"
#include "settings/Global.h"

namespace Global {
namespace {

ConnectionRecord* firstRow(const QString& name) {
    for (int i = 0; i < state.ConnectionCount; ++i) {
        if (state.ConnectionTable[i].Name == name)
            return &state.ConnectionTable[i];
    }
    return nullptr;
}

bool toBoolean(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return Convert::TextToBoolean(value.toString());
    return value.toBool();
}

qint16 toInt16(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return Convert::ToInt16(Convert::LeadingNumber(value.toString()));
    return Convert::ToInt16(value.toDouble());
}

} // namespace

bool IsKnown(const QString& name) { return firstRow(name) != nullptr; }

bool IsAuthorised(const QString& name) {
    const ConnectionRecord* row = firstRow(name);
    return row && row->Authorised;
}

bool IsDefaultEntry(const QString& name) {
    const ConnectionRecord* row = firstRow(name);
    return row && row->Default;
}

QString NumberOf(const QString& name) {
    const ConnectionRecord* row = firstRow(name);
    return row ? row->Number : QString();
}

qint16 SpeedTypeOf(const QString& name) {
    const ConnectionRecord* row = firstRow(name);
    return row ? row->SpeedType : 0;
}

qint16 SpeedOf(const QString& name, bool up) {
    const ConnectionRecord* row = firstRow(name);
    if (!row)
        return 12;
    return up ? row->SpeedUp : row->SpeedDown;
}

void RevokeAuthorisation(const QString& name) {
    if (ConnectionRecord* row = firstRow(name))
        row->Authorised = false;
}

void SetField(const QString& name, qint16 fieldCode, const QVariant& value) {
    for (int i = 0; i < state.ConnectionCount; ++i) {
        ConnectionRecord& row = state.ConnectionTable[i];
        if (fieldCode == FieldDefault)
            row.Default = false;
        if (row.Name != name)
            continue;
        switch (fieldCode) {
        case FieldAuthorised:
            row.Authorised = toBoolean(value);
            break;
        case FieldDefault:
            row.Default = toBoolean(value);
            break;
        case FieldNumber:
            row.Number = value.toString();
            break;
        case FieldSpeedType:
            row.SpeedType = toInt16(value);
            break;
        case FieldSpeedUp:
            row.SpeedUp = toInt16(value);
            break;
        case FieldSpeedDown:
            row.SpeedDown = toInt16(value);
            break;
        default:
            break;
        }
    }
}

void SyncPhonebook(EntryList& list, DialerControl& dialer) {
    list.clear();
    state.PhonebookList.clear();
    state.PhonebookCount = 0;
    const qint16 count = dialer.EntryCount();
    for (qint16 i = 0; i < count; ++i) {
        const QString name = dialer.EntryNameAt(i);
        list.addItem(name);
        state.PhonebookList.append(name);
        dialer.SelectEntry(name);
        const QString number = dialer.EntryNumber();
        if (NumberOf(name) != number)
            RevokeAuthorisation(name);
        if (!IsKnown(name) && state.ConnectionCount < MaxPhonebookEntries) {
            ConnectionRecord& row = state.ConnectionTable[state.ConnectionCount];
            row.Name = name;
            row.Number = number;
            row.Authorised = false;
            row.Default = false;
            ++state.ConnectionCount;
        }
        if (++state.PhonebookCount >= MaxPhonebookEntries)
            break;
    }
}

} // namespace Global
