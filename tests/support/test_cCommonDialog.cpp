#include "cCommonDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs `action` on the dialog once it is open; a dialog the action leaves open
// is cancelled, so that a failing check never leaves a test waiting.
void OnOpen(cCommonDialog &dlg, std::function<void(QDialog *)> action)
{
    QObject::connect(&dlg, &cCommonDialog::InitDialog, &dlg, [action](QDialog *dialog) {
        action(dialog);
        if (dialog->isVisible())
            dialog->reject();
    }, Qt::SingleShotConnection);
}

void Press(QDialog *dialog, QDialogButtonBox::StandardButton button)
{
    dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttons"))->button(button)->click();
}

// The program's font pick: caption font, colour swatch, 7 to 10 points.
void PrepareFontPick(cCommonDialog &dlg, QFont &font)
{
    dlg.setHookDialog(true);
    dlg.setFont(&font);
    dlg.setFontColor(0x0000FF);
    dlg.setMax(10);
    dlg.setMin(7);
    dlg.setCancelError(true);
    dlg.setFlags(257);
}

} // namespace

TEST(CommonDialog, RecordArithmetic)
{
    EXPECT_EQ(FontRecordHeight(8, 15), -11);
    EXPECT_EQ(FontRecordHeight(10, 15), -13);
    EXPECT_EQ(FontRecordHeight(1.875, 15), -2) << "2.5 goes to the even 2";
    EXPECT_EQ(FontRecordHeight(2.625, 15), -4) << "3.5 goes to the even 4";
    EXPECT_EQ(PointsOfHeight(-11, 15), 8);
    for (int lPoints = 1; lPoints <= 100; ++lPoints)
        EXPECT_EQ(PointsOfHeight(FontRecordHeight(lPoints, 15), 15), lPoints);

    EXPECT_EQ(FontDialogFlags(257, 0xFF, 7, 10), 0x2141u);
    EXPECT_EQ(FontDialogFlags(CF_PRINTERFONTS | CF_ENABLEHOOK | CF_ENABLETEMPLATE | CF_APPLY, 0, 0, 0),
              CF_PRINTERFONTS | CF_INITTOLOGFONTSTRUCT);
    EXPECT_EQ(ColorDialogFlags(258, true), CC_RGBINIT | CC_ANYCOLOR | CC_FULLOPEN | CC_ENABLEHOOK);
    EXPECT_EQ(ColorDialogFlags(4, false), CC_RGBINIT | CC_SOLIDCOLOR | CC_PREVENTFULLOPEN);

    EXPECT_EQ(ColorFromBGR(0x00332211), QColor(0x11, 0x22, 0x33));
    EXPECT_EQ(BGRFromColor(QColor(0x11, 0x22, 0x33)), 0x00332211u);
    EXPECT_EQ(TranslateColor(0x00123456), 0x00123456u);
    EXPECT_EQ(TranslateColor(0x80000005), 0x00FFFFFFu) << "window background";
    EXPECT_EQ(TranslateColor(0x80000040), 0xFFFFFFFFu);
    EXPECT_EQ(TranslateColor(0x01000000), 0xFFFFFFFFu);
}

TEST(CommonDialog, FontPropertiesWorkOnTheFontObject)
{
    cCommonDialog dlg;
    QFont *pOwn = dlg.Font();
    EXPECT_EQ(dlg.Font(), pOwn) << "created once, on first access";
    EXPECT_EQ(dlg.FontName(), QFont().family());

    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.5);
    dlg.setFont(&font);
    EXPECT_EQ(dlg.FontSize(), 8) << "nearest whole points, halves to even";
    font.setPointSizeF(9.5);
    EXPECT_EQ(dlg.FontSize(), 10);
    dlg.setFontBold(true);
    dlg.setFontStrikethru(true);
    dlg.setFontSize(0);
    EXPECT_TRUE(font.bold());
    EXPECT_TRUE(font.strikeOut());
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 9.5);
}

TEST(CommonDialog, FontPickWithinLimits)
{
    QFont caption(QStringLiteral("Verdana"));
    caption.setPointSizeF(8.25);
    cCommonDialog dlg;
    PrepareFontPick(dlg, caption);
    int lClosed = 0;
    QObject::connect(&dlg, &cCommonDialog::DialogClose, [&] { ++lClosed; });
    const QString sLongFace = QStringLiteral("Vorsk Caption Face With A Name Over Thirty-One Characters");

    OnOpen(dlg, [&](QDialog *dialog) {
        EXPECT_EQ(cCommonDialog::HookTarget(), &dlg);
        auto *txtSize = dialog->findChild<QSpinBox *>(QStringLiteral("txtSize"));
        EXPECT_EQ(txtSize->minimum(), 7);
        EXPECT_EQ(txtSize->maximum(), 10);
        EXPECT_EQ(txtSize->value(), 8);
        txtSize->setValue(12);
        EXPECT_TRUE(dialog->findChild<QGroupBox *>()->isVisibleTo(dialog)) << "effects offered";
        auto *cboColor = dialog->findChild<QComboBox *>(QStringLiteral("cboColor"));
        EXPECT_EQ(cboColor->currentData().toUInt(), 0x0000FFu);
        cboColor->setCurrentIndex(cboColor->findData(0x800000u));
        dialog->findChild<QCheckBox *>(QStringLiteral("chkBold"))->setChecked(true);
        dialog->findChild<QCheckBox *>(QStringLiteral("chkUnderline"))->setChecked(true);
        dialog->findChild<QFontComboBox *>(QStringLiteral("cboFont"))->setEditText(sLongFace);
        Press(dialog, QDialogButtonBox::Ok);
    });
    EXPECT_TRUE(dlg.ShowFont());

    EXPECT_EQ(caption.pointSizeF(), 10.0);
    EXPECT_TRUE(caption.bold());
    EXPECT_TRUE(caption.underline());
    EXPECT_FALSE(caption.italic());
    EXPECT_EQ(caption.family(), sLongFace);
    EXPECT_EQ(dlg.FontSize(), 10);
    EXPECT_EQ(dlg.FontColor(), 0x800000u);
    EXPECT_EQ(dlg.flags(), 0x2149u) << "the flags the dialog returned";
    EXPECT_EQ(cCommonDialog::HookTarget(), nullptr);
    EXPECT_EQ(lClosed, 1);
}

TEST(CommonDialog, CancelledFontPickChangesNothing)
{
    QFont caption(QStringLiteral("Verdana"));
    caption.setPointSizeF(8.25);
    caption.setItalic(true);
    const QFont before = caption;
    cCommonDialog dlg;
    PrepareFontPick(dlg, caption);

    OnOpen(dlg, [](QDialog *dialog) {
        dialog->findChild<QSpinBox *>(QStringLiteral("txtSize"))->setValue(9);
        dialog->findChild<QCheckBox *>(QStringLiteral("chkBold"))->setChecked(true);
        Press(dialog, QDialogButtonBox::Cancel);
    });
    EXPECT_FALSE(dlg.ShowFont());
    EXPECT_EQ(caption, before);
    EXPECT_EQ(caption.pointSizeF(), 8.25);
    EXPECT_EQ(dlg.FontColor(), 0x0000FFu);
    EXPECT_EQ(dlg.flags(), 0x2141u) << "the flag arithmetic stays, whatever the outcome";

    // Without colour and effects flags, underline and strike-out are not offered
    // and OK keeps them as they were.
    dlg.setFontColor(0);
    dlg.setFlags(CF_SCREENFONTS);
    caption.setUnderline(true);
    OnOpen(dlg, [](QDialog *dialog) {
        EXPECT_FALSE(dialog->findChild<QGroupBox *>()->isVisibleTo(dialog));
        dialog->findChild<QCheckBox *>(QStringLiteral("chkUnderline"))->setChecked(false);
        Press(dialog, QDialogButtonBox::Ok);
    });
    EXPECT_TRUE(dlg.ShowFont());
    EXPECT_TRUE(caption.underline());
    EXPECT_EQ(caption.pointSizeF(), 8.0);
}

TEST(CommonDialog, ColourPickKeepsCustomColoursForTheRun)
{
    const QColor globalBefore = QColorDialog::customColor(3);
    cCommonDialog dlg;
    dlg.setHookDialog(true);
    dlg.setDialogTitle(QStringLiteral("Choose a Color"));
    dlg.setFlags(258);
    dlg.setCancelError(true);
    dlg.setColor(0x00336699);
    EXPECT_EQ(dlg.CustomColor(3), 0x808080u) << "starts from the system colours";

    OnOpen(dlg, [](QDialog *dialog) {
        auto *colours = qobject_cast<QColorDialog *>(dialog);
        ASSERT_NE(colours, nullptr);
        EXPECT_EQ(colours->currentColor(), ColorFromBGR(0x00336699));
        EXPECT_EQ(QColorDialog::customColor(3), ColorFromBGR(0x808080));
        EXPECT_NE(colours->windowTitle(), QStringLiteral("Choose a Color"));
        QColorDialog::setCustomColor(3, QColor(1, 2, 3));
        colours->setCurrentColor(Qt::red);
        colours->accept();
    });
    EXPECT_TRUE(dlg.ShowColor());
    EXPECT_EQ(dlg.Color(), 0x000000FFu);
    EXPECT_EQ(dlg.CustomColor(3), 0x030201u);
    EXPECT_EQ(dlg.DialogFlags(), CC_RGBINIT | CC_ANYCOLOR | CC_FULLOPEN | CC_ENABLEHOOK);
    EXPECT_EQ(QColorDialog::customColor(3), globalBefore) << "the table belongs to the object";

    // The next time the chosen custom colour is offered again; cancelling keeps
    // the colour. Found here as the application's modal window, without the hook.
    dlg.setHookDialog(false);
    int lClosed = 0;
    QObject::connect(&dlg, &cCommonDialog::DialogClose, [&] { ++lClosed; });
    QColor offered;
    QTimer::singleShot(0, [&] {
        auto *colours = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(colours, nullptr);
        offered = QColorDialog::customColor(3);
        EXPECT_EQ(cCommonDialog::HookTarget(), nullptr);
        colours->setCurrentColor(Qt::green);
        colours->reject();
    });
    EXPECT_FALSE(dlg.ShowColor());
    EXPECT_EQ(offered, QColor(1, 2, 3));
    EXPECT_EQ(dlg.Color(), 0x000000FFu);
    EXPECT_EQ(lClosed, 0);

    cCommonDialog other;
    EXPECT_EQ(other.CustomColor(3), 0x808080u);
}
