#include "controls/PropertyBag.h"

#include "platform/Convert.h"

namespace {

bool isText(const QVariant& value) {
    return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

double numberOf(const QVariant& value) {
    if (isText(value))
        return Convert::LeadingNumber(value.toString());
    // Colours such as 0x8000000F may arrive unsigned; they are 32-bit patterns, not magnitudes.
    if (value.typeId() == QMetaType::UInt)
        return double(qint32(value.toUInt()));
    return value.toDouble();
}

} // namespace

qsizetype PropertyBag::indexOf(QStringView name) const {
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        if (QStringView(entries_[i].first).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVariant PropertyBag::ReadProperty(QStringView name, const QVariant& defaultValue) const {
    const qsizetype i = indexOf(name);
    return i < 0 ? defaultValue : entries_[i].second;
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) {
    const qsizetype i = indexOf(name);
    if (value == defaultValue) {
        // An older value under the same name would otherwise be read back instead of the default.
        if (i >= 0)
            entries_.removeAt(i);
        return;
    }
    if (i >= 0)
        entries_[i].second = value;
    else
        entries_.append({name, value});
}

qint16 PropertyBag::ReadInt16(QStringView name, qint16 defaultValue) const {
    const qsizetype i = indexOf(name);
    return i < 0 ? defaultValue : Convert::ToInt16(numberOf(entries_[i].second));
}

qint32 PropertyBag::ReadInt32(QStringView name, qint32 defaultValue) const {
    const qsizetype i = indexOf(name);
    return i < 0 ? defaultValue : Convert::ToInt32(numberOf(entries_[i].second));
}

bool PropertyBag::ReadBoolean(QStringView name, bool defaultValue) const {
    const qsizetype i = indexOf(name);
    if (i < 0)
        return defaultValue;
    const QVariant& value = entries_[i].second;
    return isText(value) ? Convert::TextToBoolean(value.toString()) : value.toBool();
}

bool PropertyBag::Contains(QStringView name) const {
    return indexOf(name) >= 0;
}

QStringList PropertyBag::Names() const {
    QStringList names;
    names.reserve(entries_.size());
    for (const auto& entry : entries_)
        names.append(entry.first);
    return names;
}
