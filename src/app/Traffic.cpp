#include "app/Traffic.h"

#include "platform/Convert.h"

#include <QLocale>

namespace Traffic {
namespace {

// Thousands always grouped, with the grouping mark and decimal sign of the user's locale.
QString grouped(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return Convert::LatinDigits(locale.toString(value, 'f', decimals));
}

} // namespace

QString TotalText(float total) {
    const double value = total;
    if (value > 1e9)
        return grouped(value / 1e9, 3) + QStringLiteral(" GB");
    if (value > 1e6)
        return grouped(value / 1e6, 3) + QStringLiteral(" MB");
    return grouped(value / 1e3, 3) + QStringLiteral(" KB");
}

QString RateText(float rate) {
    return grouped(rate, 2) + QStringLiteral(" KB");
}

float Rate(float total, float previous, int intervalMs) {
    return float(double(total - previous) * (1000.0 / intervalMs) / 1000.0);
}

qint16 LevelOf(float rate, qint16 lineSpeed) {
    if (lineSpeed <= 0)
        return 0;
    const double percent = double(rate) / lineSpeed * 100.0;
    return percent > 0 ? Convert::ToInt16(percent) : qint16(0);
}

QString StatusText(int state, const QString& ip) {
    switch (state) {
    case -1:
        return QStringLiteral("Idle...");
    case 0:
        return QStringLiteral("Opening port...");
    case 1:
        return QStringLiteral("port opened.");
    case 2:
        return QStringLiteral("Connecting device...");
    case 3:
        return QStringLiteral("Device connected.");
    case 5:
        return QStringLiteral("Authenticating...");
    case 14:
        return QStringLiteral("Successefully connected!");
    case 8192:
        return QStringLiteral("Connection estabilished with ip: ") + ip;
    case 8193:
        return QStringLiteral("Connection closed.");
    default:
        return QStringLiteral("State code:") + Convert::NumberText(state);
    }
}

} // namespace Traffic
