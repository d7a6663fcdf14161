#include "mLanguage.h"

#include "cError.h"
#include "cResourceLibrary.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSet>
#include <QToolBar>
#include <QToolButton>
#include <cstdio>
#include <optional>

namespace {

// The one resource object of the program, created at the first lookup and kept to the end.
cResourceLibrary &SharedResource()
{
    static std::unique_ptr<cResourceLibrary> object;
    if (!object) {
        const QString executableDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
        object = cResourceLibrary::Open(ResourceLibraryCandidates(executableDir));
    }
    return *object;
}

// The text of the ID that text holds; nothing when it holds no 32-bit decimal number or the
// lookup fails.
std::optional<QString> LookUp(const QString &text)
{
    bool isNumber = false;
    const qint32 id = text.trimmed().toInt(&isNumber, 10);
    if (!isNumber)
        return std::nullopt;
    try {
        return LangString(id);
    } catch (const cError &) {
        return std::nullopt;
    }
}

// A tool tip text may hold several parts separated by "|": each part is shown on its own line.
QString ToolTipShown(QString text)
{
    return text.replace(QLatin1Char('|'), QLatin1Char('\n'));
}

void TranslateMenuItems(const QList<QAction *> &items, QSet<QAction *> &done)
{
    for (QAction *item : items) {
        if (item->isSeparator() || done.contains(item))
            continue;
        done.insert(item);
        if (const std::optional<QString> text = LookUp(item->text()))
            item->setText(*text);
    }
}

// A button without a tool tip of its own reports its text as tool tip; only its own counts.
bool HasOwnToolTip(const QAction &button)
{
    QAction plain;
    plain.setText(button.text());
    return !button.toolTip().isEmpty() && button.toolTip() != plain.toolTip();
}

void TranslateToolbar(const QToolBar &toolbar)
{
    for (QAction *button : toolbar.actions()) {
        if (button->isSeparator())
            continue;
        if (HasOwnToolTip(*button)) {
            if (const std::optional<QString> text = LookUp(button->toolTip()))
                button->setToolTip(ToolTipShown(*text));
        }
        if (const std::optional<QString> text = LookUp(button->text()))
            button->setText(*text);
    }
}

void SetFontFace(QWidget &control, const std::function<bool()> &IsClassicStyle)
{
    try {
        QFont font = control.font();
        font.setFamily(IsClassicStyle() ? QStringLiteral("MS Sans Serif")
                                        : QStringLiteral("Verdana"));
        control.setFont(font);
    } catch (const std::exception &) {
        // The style could not be told: this control keeps its font.
    }
}

void TranslateCaption(QWidget &control)
{
    if (auto *label = qobject_cast<QLabel *>(&control)) {
        if (const std::optional<QString> text = LookUp(label->text()))
            label->setText(*text);
    } else if (auto *button = qobject_cast<QAbstractButton *>(&control)) {
        if (const std::optional<QString> text = LookUp(button->text()))
            button->setText(*text);
    } else if (auto *frame = qobject_cast<QGroupBox *>(&control)) {
        if (const std::optional<QString> text = LookUp(frame->title()))
            frame->setTitle(*text);
    } else if (auto *list = qobject_cast<QComboBox *>(&control)) {
        for (int i = 0; i < list->count(); ++i)
            if (const std::optional<QString> text = LookUp(list->itemText(i)))
                list->setItemText(i, *text);
    }
}

void TranslateControl(QWidget &control, bool keepFonts,
                      const std::function<bool()> &IsClassicStyle)
{
    if (!keepFonts)
        SetFontFace(control, IsClassicStyle);
    if (!control.toolTip().isEmpty()) {
        if (const std::optional<QString> text = LookUp(control.toolTip()))
            control.setToolTip(ToolTipShown(*text));
    }
    TranslateCaption(control);
}

// Qt's own parts of a widget (named "qt_...") and the buttons a toolbar makes for its actions
// are not controls of the form.
bool IsControl(const QWidget &widget)
{
    if (widget.objectName().startsWith(QLatin1String("qt_")))
        return false;
    return !(qobject_cast<const QToolButton *>(&widget)
             && qobject_cast<const QToolBar *>(widget.parentWidget()));
}

void ReportMissingWording(const QString &reason)
{
    const QString message =
        QStringLiteral("Vorsk cannot start without its wording library %1.\n\n%2")
            .arg(QLatin1String(VorskResFileName), reason);
    std::fprintf(stderr, "%s\n", qPrintable(message));
    const QString platform = QGuiApplication::platformName();
    if (qobject_cast<QApplication *>(QCoreApplication::instance())
        && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::critical(nullptr, QStringLiteral("Vorsk"), message);
}

} // namespace

QString LangString(qint32 id)
{
    return SharedResource().Loadresstring(id);
}

QImage LangPicture(qint16 id, qint16 kind)
{
    return SharedResource().LoadResPicture2(id, kind);
}

void ApplyLanguage(QWidget &form, bool keepFonts, const std::function<bool()> &IsClassicStyle)
{
    QSet<QAction *> done;
    for (QWidget *widget : form.findChildren<QWidget *>()) {
        if (auto *menu = qobject_cast<QMenu *>(widget))
            TranslateMenuItems(menu->actions(), done);
        else if (auto *menuBar = qobject_cast<QMenuBar *>(widget))
            TranslateMenuItems(menuBar->actions(), done);
        else if (auto *toolbar = qobject_cast<QToolBar *>(widget))
            TranslateToolbar(*toolbar);
        else if (IsControl(*widget))
            TranslateControl(*widget, keepFonts, IsClassicStyle);
    }
}

int CheckWording()
{
    try {
        SharedResource();
        return 0;
    } catch (const cError &error) {
        ReportMissingWording(error.Description());
        return 1;
    }
}
