#include "settings/Cp1252.h"

#include <QList>

namespace Cp1252 {

// 0x80..0x9F; the five unassigned codes map to the C1 control of the same value, as Windows does.
static constexpr char16_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

unsigned char CodeOf(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return static_cast<unsigned char>(codePoint);
    for (int i = 0; i < 32; ++i) {
        if (HighControls[i] == codePoint)
            return static_cast<unsigned char>(0x80 + i);
    }
    return '?';
}

QChar CharOf(unsigned char code) {
    if (code >= 0x80 && code < 0xA0)
        return QChar(HighControls[code - 0x80]);
    return QChar(code);
}

QByteArray FromUnicode(QStringView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (uint codePoint : text.toUcs4())
        bytes.append(static_cast<char>(CodeOf(codePoint)));
    return bytes;
}

QString ToUnicode(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (char byte : bytes)
        text.append(CharOf(static_cast<unsigned char>(byte)));
    return text;
}

} // namespace Cp1252
