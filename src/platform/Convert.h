#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

// The program's number and text conversions, shared by every subsystem.
namespace Convert {

// Nearest whole number, a half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// Rounded as above and limited to the type's range; NaN gives 0.
qint16 ToInt16(double value);
qint32 ToInt32(double value);

// Value of the longest prefix that reads as a decimal number after leading blanks; 0 when none.
double LeadingNumber(QStringView text);

// "true"/"false" in any letter case, or a finite number (non-zero is true). Anything else is false.
bool TextToBoolean(QStringView text);

// Every decimal digit of any script as its Latin digit; the other characters stay.
QString LatinDigits(const QString& text);

// Decimal text with one blank in front of a number that is not negative, a minus sign otherwise.
QString NumberText(double value);
// The same for a single-precision value: 7 significant digits at most.
QString SingleText(float value);

} // namespace Convert
