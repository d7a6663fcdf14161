#include "mPublicTypes.h"

#include "mNumbers.h"

#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QObject>

QString sLastValidText;

namespace {

// The character code a key press types, or 0 for keys that type nothing and
// only edit or move (Delete, which X11 reports as the character 0x7F, arrows,
// Home, End, select-all, undo ...) and for Tab, which moves the focus; the
// filter leaves those alone. Copy and cut keep their codes, so the filter
// refuses them; paste keeps its own, so it is let in and then repaired.
char16_t TypedCode(const QKeyEvent &event)
{
    if (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab)
        return 0;
    if (event.matches(QKeySequence::Paste))
        return 22;
    if (event.matches(QKeySequence::Copy))
        return 3;
    if (event.matches(QKeySequence::Cut))
        return 24;
    if (event.key() == Qt::Key_Backspace)
        return 8;
    if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter)
        return 13;
    if (event.modifiers() & Qt::ControlModifier || event.text().isEmpty())
        return 0;
    const char16_t code = event.text().at(0).unicode();
    return code < 32 || code == 0x7F ? 0 : code;
}

class NumericBoxFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A box being destroyed is a QLineEdit no more when it loses the focus.
        auto *box = qobject_cast<QLineEdit *>(watched);
        if (!box)
            return false;
        if (event->type() == QEvent::KeyPress) {
            const char16_t code = TypedCode(*static_cast<QKeyEvent *>(event));
            return code != 0 && !FilterNumericKey(code, *box);
        }
        // The focus is already on its way elsewhere: it is called back once it got there.
        if (event->type() == QEvent::FocusOut && ValidateNumericText(*box))
            QMetaObject::invokeMethod(box, [box] { box->setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);
        return false;
    }
};

} // namespace

bool FilterNumericKey(char16_t KeyAscii, const QLineEdit &txtBox)
{
    if (KeyAscii >= u'0' && KeyAscii <= u'9')
        return true;
    if (KeyAscii == u'-' || KeyAscii == u'+')
        return txtBox.cursorPosition() == 0 && !txtBox.text().startsWith(QLatin1Char('+')) &&
               !txtBox.text().startsWith(QLatin1Char('-'));
    return KeyAscii == 8 || KeyAscii == 22;
}

bool ValidateNumericText(QLineEdit &txtBox)
{
    const QString text = txtBox.text();
    if (text.isEmpty() || IsNumericText(text)) {
        sLastValidText = text;
        return false;
    }
    // The first position (from 1) where the two texts differ; past its end a
    // text counts as an empty character, so the texts always differ somewhere.
    const QString remembered = sLastValidText;
    qsizetype position = 1;
    while (position <= std::max(text.size(), remembered.size()) &&
           remembered.mid(position - 1, 1) == text.mid(position - 1, 1))
        ++position;
    txtBox.setText(remembered);
    txtBox.setCursorPosition(int(position - 1));
    return true;
}

void AttachNumericBox(QLineEdit &txtBox)
{
    txtBox.installEventFilter(new NumericBoxFilter(&txtBox));
    QObject::connect(&txtBox, &QLineEdit::textChanged, &txtBox, [&txtBox] { ValidateNumericText(txtBox); });
}
