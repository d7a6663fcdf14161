#include "ShellTestSupport.h"
#include "frmMain.h"
#include "mWording.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>

#include <map>

namespace {

std::map<std::int32_t, QString> Texts(const char *name)
{
    QFile file(QStringLiteral(VORSK_WORDING_DIR "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QString error;
    const std::optional<Wording> wording = ParseWording(file.readAll(), &error);
    EXPECT_TRUE(wording) << error.toStdString();
    return wording ? std::map<std::int32_t, QString>(wording->Texts.begin(), wording->Texts.end())
                   : std::map<std::int32_t, QString>{};
}

// The width a control's text takes ("&" marks a shortcut and takes none) and
// the width its control gives the text; a list is measured with the choice
// given shown.
std::pair<int, int> TextAndRoom(QWidget &control, const QString &sChoice = {})
{
    if (auto *list = qobject_cast<QComboBox *>(&control)) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.currentText = sChoice;
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
        return {list->fontMetrics().horizontalAdvance(sChoice), field.width()};
    }
    if (!sChoice.isEmpty()) {
        if (auto *label = qobject_cast<QLabel *>(&control))
            label->setText(sChoice);
        else if (auto *button = qobject_cast<QAbstractButton *>(&control))
            button->setText(sChoice);
    }
    if (auto *label = qobject_cast<QLabel *>(&control)) {
        if (label->wordWrap())
            return {label->heightForWidth(label->contentsRect().width()), label->contentsRect().height()};
        return {label->fontMetrics().size(Qt::TextShowMnemonic, label->text()).width(), label->contentsRect().width()};
    }
    auto &button = static_cast<QAbstractButton &>(control);
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const QStyle::SubElement area =
        qobject_cast<QCheckBox *>(&button) ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents;
    return {button.fontMetrics().size(Qt::TextShowMnemonic, button.text()).width(),
            button.style()->subElementRect(area, &option, &button).width()};
}

// The longest texts the status labels show while serving.
const std::map<QString, QString> kLongestValues = {
    {QStringLiteral("lblUptime"), QStringLiteral("365 Days 23 Hours 59 Minutes 59 Secs")},
    {QStringLiteral("lblLastSent"), QStringLiteral("2026-12-31 - 23:59:59")},
    {QStringLiteral("lblConnections"), QStringLiteral("1000000000")},
    {QStringLiteral("lblCamResolution"), QStringLiteral("1920 x 1080")},
};

} // namespace

// Every label and button of every page shows its whole text in both wordings,
// with the fonts a Debian desktop has; captions that are resource IDs at
// design time take their texts from each wording file.
TEST_F(SettingsHome, EveryCaptionFitsItsControlInBothWordings)
{
    BareControls design;
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    window.show();
    Ui::frmMain &ui = window.Controls();
    for (const char *wordingFile : {"en.txt", "sv.txt"}) {
        const auto texts = Texts(wordingFile);
        for (QWidget *control : window.findChildren<QWidget *>()) {
            auto *label = qobject_cast<QLabel *>(control);
            auto *button = qobject_cast<QAbstractButton *>(control);
            if ((!label && !button) || control->objectName().isEmpty() || control->objectName().startsWith(QLatin1String("qt_")))
                continue;
            // Only the window's own controls, not the parts Qt makes (a tab bar's scroll buttons).
            auto *designed = design.form.findChild<QWidget *>(control->objectName());
            if (!designed)
                continue;
            const QString caption = label ? static_cast<QLabel *>(designed)->text()
                                          : static_cast<QAbstractButton *>(designed)->text();
            bool isId = false;
            const int id = caption.toInt(&isId);
            QString text = isId && texts.count(id) ? texts.at(id) : (label ? label->text() : button->text());
            text.replace(QLatin1String("\\n"), QLatin1String("\n"));
            if (kLongestValues.count(control->objectName()))
                text = kLongestValues.at(control->objectName());
            if (label && label->pixmap().isNull())
                label->setText(text);
            else if (button)
                button->setText(text);
            // Hidden pages and panels are measured as they will be shown.
            const auto [needed, room] = TextAndRoom(*control);
            EXPECT_LE(needed, room) << wordingFile << ": " << control->objectName().toStdString() << " \""
                                    << text.toStdString() << "\"";
        }
    }
    ui.tabSettings->setCurrentIndex(0);
}

// The controls added to a page after its first design carry its longest
// captions and choices: each shows whole in both wordings at the window's own
// size and the sizes around it, stays inside its page and covers no other
// control there.
TEST_F(SettingsHome, TheControlsAddedLaterFitTheirPagesInBothWordings)
{
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    window.show();
    Ui::frmMain &ui = window.Controls();
    struct Added
    {
        QWidget *page;
        QWidget *control;
        std::vector<int> ids; // its caption, or a list's choices
    } added[] = {
        {ui.pSettings, ui.chkHeaders, {163}},   {ui.pSettings, ui.lblPassword, {167}},
        {ui.pSettings, ui.txtPassword, {}},      {ui.pVideo, ui.lblRotate, {186}},
        {ui.pVideo, ui.lblFlip, {187}},          {ui.pVideo, ui.cboRotate, {188, 189, 190, 191}},
        {ui.pVideo, ui.cboFlip, {192, 193, 194}},
    };
    for (const Added &a : added) {
        ui.tabSettings->setCurrentWidget(a.page);
        EXPECT_TRUE(a.page->rect().contains(a.control->geometry()))
            << a.control->objectName().toStdString() << " inside a page of " << a.page->width() << " x "
            << a.page->height();
        for (QWidget *other : a.page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (other != a.control) {
                EXPECT_FALSE(a.control->geometry().intersects(other->geometry()))
                    << a.control->objectName().toStdString() << " " << other->objectName().toStdString();
            }
        }
    }

    const qreal designPoints = ui.chkHeaders->font().pointSizeF();
    for (const char *wordingFile : {"en.txt", "sv.txt"}) {
        const auto texts = Texts(wordingFile);
        for (const Added &a : added) {
            for (const int id : a.ids) {
                const QString text = texts.at(id);
                for (const qreal points : {designPoints, 8.25, 9.0}) {
                    QFont font = a.control->font();
                    font.setPointSizeF(points);
                    a.control->setFont(font);
                    const auto [needed, room] = TextAndRoom(*a.control, text);
                    EXPECT_LE(needed, room)
                        << wordingFile << " at " << points << " points: \"" << text.toStdString() << "\"";
                    EXPECT_LE(a.control->fontMetrics().height(), a.control->height()) << points;
                }
            }
        }
    }
}
