#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One entry of a phonebook in wvdial.conf format, its keys resolved through the entry's own
// section, its Inherits chain, [Dialer Defaults] and the built-in defaults, as wvdial does.
struct PhonebookEntry {
    QString name;        // section name without "Dialer "
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
    // Longest file and longest line that are read; the rest is left out.
    static constexpr qint64 MaxFileBytes = 32 * 1024 * 1024;
    static constexpr qsizetype MaxLineBytes = 64 * 1024;

    static WvdialPhonebook read(const QString& path);
    static WvdialPhonebook parse(const QByteArray& content);

    // Entry names in file order. [Dialer Defaults] holds wvdial's defaults and is no entry.
    const QStringList& entryNames() const { return m_names; }
    // Entry names compare without regard to letter case, as wvdial's do.
    std::optional<PhonebookEntry> entry(const QString& name) const;
    // What wvdial dials when given this section name: [Dialer Defaults] too, wvdial's choice
    // when it is given none.
    std::optional<PhonebookEntry> dialledByWvdial(const QString& name) const;

    // Any key of an entry, looked up as wvdial does (own section, Inherits chain,
    // [Dialer Defaults]); nullopt when no section sets it.
    std::optional<QString> value(const QString& entryName, const QString& key) const;

    // wvdial's reading of a boolean value: "no..."/"off"/"false" false, "on"/"yes"/"true"
    // true, otherwise the leading integer.
    static int toInt(const QString& value);

private:
    struct Section {
        QString name;
        QHash<QString, QString> keys; // lower-case key -> value; a later line wins
    };

    const Section* section(const QString& name) const;
    std::optional<QString> chainValue(const QString& sectionName, const QString& key) const;

    QStringList m_names;
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_index; // lower-case section name -> m_sections index
};
