#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Windows-1252, the code page of the settings file and of the value encoding.
namespace Cp1252 {

// Code of one Unicode code point; 63 ("?") when the code page cannot hold it.
unsigned char CodeOf(char32_t codePoint);
// The character of a code 0..255.
QChar CharOf(unsigned char code);

QByteArray FromUnicode(QStringView text);
QString ToUnicode(QByteArrayView bytes);

} // namespace Cp1252
