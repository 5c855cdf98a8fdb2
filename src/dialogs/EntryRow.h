#pragma once

#include <QJsonObject>
#include <QtGlobal>

// The selected entry's row of the guard's table as the setup dialog knows it: what the guard
// answered when the entry was chosen, with the changes the dialog sent since, applied as the
// table applies them.
struct EntryRow {
    bool known = false;
    bool authorised = false;
    bool isDefault = false;
    qint16 speedType = 0;
    qint16 speedUp = 12;
    qint16 speedDown = 12;

    static EntryRow From(const QJsonObject& answer);
    // An entry the table does not hold keeps nothing.
    void Apply(qint16 fieldCode, const QJsonValue& value);
    qint16 SpeedOf(bool up) const { return up ? speedUp : speedDown; }
};
