#pragma once

#include <QString>

// A number as the numeric boxes and the settings take it: an optional sign,
// digits, and an optional decimal part after "." or the locale's decimal
// separator (at least one digit in all). No spaces, no exponent, no grouping.
bool IsNumericText(const QString &sText);
// The value of such a text; ok false (and 0) for anything else.
double NumericValue(const QString &sText, bool *ok = nullptr);
// The nearest whole number, halves to even, as the program converts numbers
// to whole numbers; ok false when the text is no number or out of range.
int WholeNumberValue(const QString &sText, bool *ok = nullptr);
