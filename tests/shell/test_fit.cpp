#include "ShellTestSupport.h"
#include "frmMain.h"
#include "mWording.h"

#include <QAbstractButton>
#include <QCheckBox>
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
// the width its control gives the text.
std::pair<int, int> TextAndRoom(QWidget &control)
{
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

// The headers box carries the longest caption of the Settings page, and the
// password box's label follows it: each shows whole in both wordings at the
// window's own size and a size up, stays inside its page and covers no other
// control there.
TEST_F(SettingsHome, TheHeadersAndPasswordBoxesFitTheirPageInBothWordings)
{
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    window.show();
    Ui::frmMain &ui = window.Controls();
    ui.tabSettings->setCurrentWidget(ui.pSettings);
    for (QWidget *box : {static_cast<QWidget *>(ui.chkHeaders), static_cast<QWidget *>(ui.lblPassword),
                         static_cast<QWidget *>(ui.txtPassword)}) {
        EXPECT_TRUE(ui.pSettings->rect().contains(box->geometry()))
            << box->objectName().toStdString() << " inside a page of " << ui.pSettings->width() << " x "
            << ui.pSettings->height();
        for (QWidget *other : ui.pSettings->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (other != box) {
                EXPECT_FALSE(box->geometry().intersects(other->geometry()))
                    << box->objectName().toStdString() << " " << other->objectName().toStdString();
            }
        }
    }

    const qreal designPoints = ui.chkHeaders->font().pointSizeF();
    for (const char *wordingFile : {"en.txt", "sv.txt"}) {
        const auto texts = Texts(wordingFile);
        for (const auto &[control, id] : {std::pair<QWidget *, int>{ui.chkHeaders, 163}, {ui.lblPassword, 167}}) {
            const QString text = texts.at(id);
            if (auto *label = qobject_cast<QLabel *>(control))
                label->setText(text);
            else
                static_cast<QAbstractButton *>(control)->setText(text);
            for (const qreal points : {designPoints, 8.25, 9.0}) {
                QFont font = control->font();
                font.setPointSizeF(points);
                control->setFont(font);
                const auto [needed, room] = TextAndRoom(*control);
                EXPECT_LE(needed, room)
                    << wordingFile << " at " << points << " points: \"" << text.toStdString() << "\"";
                EXPECT_LE(control->fontMetrics().height(), control->height()) << points;
            }
        }
    }
}
