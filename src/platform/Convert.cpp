#include "platform/Convert.h"

#include <QList>

#include <cmath>
#include <limits>

namespace Convert {

double RoundHalfEven(double value) {
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5)
        return below + 1.0;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

template <typename Int> static Int toLimited(double value) {
    if (std::isnan(value))
        return 0;
    const double rounded = RoundHalfEven(value);
    if (rounded <= double(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (rounded >= double(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return Int(rounded);
}

qint16 ToInt16(double value) { return toLimited<qint16>(value); }
qint32 ToInt32(double value) { return toLimited<qint32>(value); }

static bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
static bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

double LeadingNumber(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(text[i]))
        ++i, ++digits;
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0.0;
    qsizetype end = i;
    // An exponent counts only when digits follow it.
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                ++j;
            end = j;
        }
    }
    const double value = text.mid(start, end - start).toString().toDouble();
    return std::isfinite(value) ? value : (text[start] == u'-' ? -std::numeric_limits<double>::max()
                                                                : std::numeric_limits<double>::max());
}

static QString numberText(double value, int precision);

bool TextToBoolean(QStringView text) {
    const QStringView trimmed = text.trimmed();
    if (trimmed.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double value = trimmed.toString().toDouble(&ok);
    // Qt reads "nan" and "inf" as numbers; a hand-edited flag must not authorise through them.
    return ok && std::isfinite(value) && value != 0.0;
}

QString LatinDigits(const QString& text) {
    QString latin;
    latin.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4()) {
        if (QChar::category(codePoint) == QChar::Number_DecimalDigit)
            latin += QChar(u'0' + QChar::digitValue(codePoint));
        else
            latin += QString::fromUcs4(&codePoint, 1);
    }
    return latin;
}

QString NumberText(double value) {
    return numberText(value, 15);
}

QString SingleText(float value) {
    return numberText(double(value), 7);
}

static QString numberText(double value, int precision) {
    QString digits = QString::number(value, 'g', precision);
    if (value >= 0)
        digits.prepend(u' ');
    return digits;
}

} // namespace Convert
