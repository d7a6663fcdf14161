#pragma once

#include <QString>

class QLineEdit;

// The last text a numeric box held while it was empty or a number; one value
// shared by all numeric boxes.
extern QString sLastValidText;

// Whether a typed character (code as typed: 8 backspace, 22 paste, ...) may
// enter the box; a rejected keystroke is discarded.
bool FilterNumericKey(char16_t KeyAscii, const QLineEdit &txtBox);

// Puts the last accepted text back when the box holds something that is not a
// number; true when it had to do so.
bool ValidateNumericText(QLineEdit &txtBox);

// Wires the key, change and focus-leave handlers of a numeric box.
void AttachNumericBox(QLineEdit &txtBox);
