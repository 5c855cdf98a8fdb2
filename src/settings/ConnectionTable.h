#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

class DialerControl;

// The list box that shows the phonebook's entries (the setup dialog's entry list).
class EntryList {
public:
    virtual ~EntryList() = default;
    virtual void clear() = 0;
    virtual void addItem(const QString& name) = 0;
};

// Lookups and changes on ConnectionTable. A lookup uses the first row with the name
// (compared exactly, letter case significant) among rows 0 .. ConnectionCount - 1.
namespace Global {

enum FieldCode : qint16 {
    FieldAuthorised = 0,
    FieldDefault = 2,
    FieldNumber = 3,
    FieldSpeedType = 4,
    FieldSpeedUp = 5,
    FieldSpeedDown = 6,
};

bool IsKnown(const QString& name);
bool IsAuthorised(const QString& name);
bool IsDefaultEntry(const QString& name);
QString NumberOf(const QString& name);
qint16 SpeedTypeOf(const QString& name);
// SpeedUp when up, SpeedDown otherwise; 12 for an unknown name.
qint16 SpeedOf(const QString& name, bool up);
void RevokeAuthorisation(const QString& name);

// Changes the field on every row with the name. The default code first clears the mark of
// every row, so at most the named rows keep it. The value is a Boolean, a text or a number
// as the field needs.
void SetField(const QString& name, qint16 fieldCode, const QVariant& value);

// Fills PhonebookList (and the list box) from the phonebook, appends entries the table does
// not know, and revokes the authorisation of every entry whose number has changed.
void SyncPhonebook(EntryList& list, DialerControl& dialer);

} // namespace Global
