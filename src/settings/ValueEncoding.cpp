#include "settings/ValueEncoding.h"

#include "platform/Convert.h"
#include "settings/Cp1252.h"

namespace Subs {

QString ZeroPad(const QString& text, qint16 width) {
    if (text.size() < width)
        return QString(width - text.size(), u'0') + text;
    return text;
}

} // namespace Subs

namespace Global {

static constexpr int KeyLength = sizeof(ValueKey) - 1;

QString EncodeValue(const QString& text) {
    const QByteArray codes = Cp1252::FromUnicode(text);
    QString result;
    result.reserve(codes.size() * 3);
    int k = 0;
    for (char c : codes) {
        const int value = static_cast<unsigned char>(c) ^ static_cast<unsigned char>(ValueKey[k]);
        result += Subs::ZeroPad(QString::number(value), 3);
        k = (k + 1) % KeyLength;
    }
    return result;
}

QString DecodeValue(const QString& text) {
    QString result;
    result.reserve(text.size() / 3 + 1);
    int k = 0;
    for (qsizetype i = 0; i < text.size(); i += 3) {
        const qint32 group = Convert::ToInt32(Convert::LeadingNumber(QStringView(text).mid(i, 3)));
        const qint32 code = group ^ static_cast<unsigned char>(ValueKey[k]);
        // Only a hand-edited file holds a group with no character; it reads as "?", the rest is kept.
        result += (code >= 0 && code <= 255) ? Cp1252::CharOf(static_cast<unsigned char>(code)) : QChar(u'?');
        k = (k + 1) % KeyLength;
    }
    return result;
}

} // namespace Global
