#pragma once
// The program's only road to its wording: texts and the logo from the wording library,
// and the window's design-time IDs replaced by their texts.

#include <QImage>
#include <QString>
#include <functional>

class QWidget;

// The text the wording library holds under id, exactly as stored ("\n" and "&" included);
// empty when it holds none. Throws cError 429 when the library cannot be had.
QString LangString(qint32 id);

// Picture id of kind (0 = bitmap) from the wording library; a null image when it has none.
// Throws cError 429 when the library cannot be had.
QImage LangPicture(qint16 id, qint16 kind);

// Replaces the IDs that form's menu items, toolbar buttons and controls hold by their texts,
// and unless keepFonts sets each control's font face for the desktop style, asking
// IsClassicStyle afresh for each control. Nothing that fails here escapes.
void ApplyLanguage(QWidget &form, bool keepFonts, const std::function<bool()> &IsClassicStyle);

// The program's entry asks this first: 0 when the wording library answers; otherwise the
// failure is told on stderr and, where a display exists, in a message box, and the
// non-zero exit status is returned.
int CheckWording();
