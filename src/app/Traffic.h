#pragma once

#include <QString>
#include <QtGlobal>

// What the strip shows of a call and its traffic, as texts and levels.
namespace Traffic {

// A total of bytes in KB, MB or GB with three decimals, grouped as the user's locale groups.
QString TotalText(float total);
// A rate in KB per second with two decimals and " KB".
QString RateText(float rate);
// The rate in KB/s between two totals taken intervalMs apart.
float Rate(float total, float previous, int intervalMs);
// Share of the line speed in percent, for a level bar: 0 without a line speed or for a negative
// rate, held at the bar's 16 bits beyond it.
qint16 LevelOf(float rate, qint16 lineSpeed);
// The status line's text of a connection state.
QString StatusText(int state, const QString& ip);

} // namespace Traffic
