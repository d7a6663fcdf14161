#include "mNumbers.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The text with "." as its decimal point, or empty when it is no number.
QString Canonical(const QString &sText)
{
    const QChar localePoint = QLocale().decimalPoint().at(0);
    QString canonical;
    int digits = 0;
    bool point = false;
    for (qsizetype i = 0; i < sText.size(); ++i) {
        const QChar c = sText.at(i);
        if (i == 0 && (c == QLatin1Char('+') || c == QLatin1Char('-'))) {
            canonical += c;
        } else if (IsAsciiDigit(c)) {
            canonical += c;
            ++digits;
        } else if (!point && (c == QLatin1Char('.') || c == localePoint)) {
            canonical += QLatin1Char('.');
            point = true;
        } else {
            return {};
        }
    }
    return digits > 0 ? canonical : QString();
}

} // namespace

bool IsNumericText(const QString &sText)
{
    return !Canonical(sText).isEmpty();
}

double NumericValue(const QString &sText, bool *ok)
{
    bool converted = false;
    const QString canonical = Canonical(sText);
    double value = canonical.isEmpty() ? 0.0 : canonical.toDouble(&converted);
    if (!converted || !std::isfinite(value))
        value = 0.0, converted = false;
    if (ok)
        *ok = converted;
    return value;
}

int WholeNumberValue(const QString &sText, bool *ok)
{
    bool converted = false;
    const double value = std::nearbyint(NumericValue(sText, &converted));
    converted = converted && value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
    if (ok)
        *ok = converted;
    return converted ? int(value) : 0;
}
