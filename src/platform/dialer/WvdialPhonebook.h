#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// One entry of a phonebook in wvdial.conf format, its keys resolved through the entry's own
// section, its Inherits chain, [Dialer Defaults] and the built-in defaults, as wvdial does.
struct PhonebookEntry {
    QString name;        // section name without "Dialer " ("Defaults" for [Dialer Defaults])
    QString number;      // Dial Prefix + Area Code + Phone, composed as wvdial composes them
    QString user;        // Username
    QString password;    // Password
    QString modem;       // Modem, default /dev/modem
    int baud = 57600;    // Baud
    QStringList inits;   // Init1 .. Init9 that have a value, in order (Init1 defaults to ATZ)
    QString dialCommand; // Dial Command, default ATDT
};

// A phonebook file read once; a malformed file gives whatever entries could be read.
class WvdialPhonebook final {
public:
    static WvdialPhonebook read(const QString& path);

    // Entry names in file order, "Defaults" included when the file has that section.
    const QStringList& entryNames() const { return m_names; }
    std::optional<PhonebookEntry> entry(const QString& name) const;

private:
    QStringList m_names;
    // Implementation details are the implementer's.
};
