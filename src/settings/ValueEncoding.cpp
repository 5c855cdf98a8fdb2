#include "settings/ValueEncoding.h"

#include "platform/Convert.h"
#include "settings/Cp1252.h"

#include <QList>
#include <QStringDecoder>

namespace Subs {

QString ZeroPad(const QString& text, qint16 width) {
    if (text.size() < width)
        return QString(width - text.size(), u'0') + text;
    return text;
}

} // namespace Subs

namespace Global {

static constexpr int KeyLength = sizeof(ValueKey) - 1;

namespace {

// A text Windows-1252 holds whole; "?" itself is one of its characters.
bool fitsCp1252(QStringView text) {
    for (const char32_t codePoint : text.toUcs4()) {
        if (codePoint != U'?' && Cp1252::CodeOf(codePoint) == '?')
            return false;
    }
    return true;
}

// At most limit bytes of UTF-8, never ending inside a character.
QByteArray utf8Within(QStringView text, qsizetype limit) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
        --end;
    bytes.truncate(end);
    return bytes;
}

} // namespace

QString EncodeValue(const QString& text) {
    // Today's files keep their bytes; only a text the code page would turn into "?" goes as UTF-8,
    // cut where the settings file's value limit would otherwise split a character.
    const QByteArray codes = fitsCp1252(text) ? Cp1252::FromUnicode(text) : utf8Within(text, MaxEncodedBytes);
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
    QByteArray bytes;
    bytes.reserve(text.size() / 3 + 1);
    int k = 0;
    for (qsizetype i = 0; i < text.size(); i += 3) {
        const qint32 group = Convert::ToInt32(Convert::LeadingNumber(QStringView(text).mid(i, 3)));
        const qint32 code = group ^ static_cast<unsigned char>(ValueKey[k]);
        // Only a hand-edited file holds a group with no character; it reads as "?", the rest is kept.
        bytes.append((code >= 0 && code <= 255) ? char(code) : '?');
        k = (k + 1) % KeyLength;
    }
    // UTF-8 only when the whole value is and says something the code page could not.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString unicode = utf8.decode(bytes);
    if (!utf8.hasError() && !fitsCp1252(unicode))
        return unicode;
    return Cp1252::ToUnicode(bytes);
}

} // namespace Global
