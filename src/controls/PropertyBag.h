#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

// The saved properties of one control instance, kept by the window that hosts it. Names compare
// without regard to letter case; a value equal to its default is not stored, and reading an absent
// name yields the default. Stored entries keep the order in which they were first written.
class PropertyBag final {
public:
    PropertyBag() = default;

    QVariant ReadProperty(QStringView name, const QVariant& defaultValue) const;
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue);

    // Typed reads; numbers are rounded half to even and limited to the type, texts are read as
    // the settings file reads them.
    qint16 ReadInt16(QStringView name, qint16 defaultValue) const;
    qint32 ReadInt32(QStringView name, qint32 defaultValue) const;
    bool ReadBoolean(QStringView name, bool defaultValue) const;

    bool Contains(QStringView name) const;
    QStringList Names() const;
    qsizetype Count() const { return entries_.size(); }

    bool operator==(const PropertyBag& other) const = default;

private:
    qsizetype indexOf(QStringView name) const;

    QList<std::pair<QString, QVariant>> entries_;
};
