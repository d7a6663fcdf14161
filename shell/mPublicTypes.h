#pragma once

#include <QString>

class QLineEdit;

// The last text a numeric box held while it was empty or a number; one value
// shared by all numeric boxes.
extern QString sLastValidText;

// A number as the numeric boxes and the settings take it: an optional sign,
// digits, and an optional decimal part after "." or the locale's decimal
// separator (at least one digit in all). No spaces, no exponent, no grouping.
bool IsNumericText(const QString &sText);
// The value of such a text; ok false (and 0) for anything else.
double NumericValue(const QString &sText, bool *ok = nullptr);
// The nearest whole number, halves to even, as the program converts numbers
// to whole numbers; ok false when the text is no number or out of range.
int WholeNumberValue(const QString &sText, bool *ok = nullptr);

// Whether a typed character (code as typed: 8 backspace, 22 paste, ...) may
// enter the box; a rejected keystroke is discarded.
bool FilterNumericKey(char16_t KeyAscii, const QLineEdit &txtBox);

// Puts the last accepted text back when the box holds something that is not a
// number; true when it had to do so.
bool ValidateNumericText(QLineEdit &txtBox);

// Wires the key, change and focus-leave handlers of a numeric box.
void AttachNumericBox(QLineEdit &txtBox);
