#pragma once

#include <QString>
#include <QtGlobal>

namespace Subs {
// The text left-padded with "0" to the width; a longer text is not cut.
QString ZeroPad(const QString& text, qint16 width);
} // namespace Subs

// Names and numbers are stored XORed with a fixed key, three decimal digits a character.
namespace Global {
inline constexpr char ValueKey[] = "KTRW39PPZ82Q";
// The settings file keeps 254 characters of a value: 84 bytes of three digits each.
inline constexpr qsizetype MaxEncodedBytes = 254 / 3;

QString EncodeValue(const QString& text);
QString DecodeValue(const QString& text);
} // namespace Global
