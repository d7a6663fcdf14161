#include "mSelectPage.h"

#include "ui_frmMain.h"

#include <QApplication>

#include <algorithm>
#include <vector>

namespace {

enum class Focus { None, First, RenewWAN };

struct PageRule
{
    std::vector<QWidget *> order;
    std::vector<QLineEdit *> selectOnEntry;
    Focus focus;
};

std::vector<QWidget *> ManagedControls(Ui::frmMain &ui)
{
    return {ui.txtPort, ui.txtIntvl, ui.txtMaxCon, ui.txtWidth, ui.txtHeight, ui.txtOnImage,
            ui.txtIPServer, ui.chkInvertImage, ui.cboRotate, ui.cboFlip, ui.chkTransparent, ui.chkHeaders,
            ui.txtPassword, ui.chkSavelog, ui.chkUptime, ui.chkPreview, ui.cmdSelectFont, ui.cmdChangeRes,
            ui.cmdDevice, ui.cmdPreview, ui.cmdRenewWAN, ui.cmdCopy};
}

std::vector<QWidget *> WithButtons(Ui::frmMain &ui, std::vector<QWidget *> controls)
{
    controls.insert(controls.end(), {ui.cmdStart, ui.cmdStop, ui.cmdHelp, ui.cmdCancel});
    return controls;
}

PageRule RuleOf(Ui::frmMain &ui, int lIndex)
{
    switch (lIndex) {
    case 1:
        return {WithButtons(ui, {ui.cmdRenewWAN, ui.cmdCopy, ui.chkPreview, ui.cmdPreview}), {}, Focus::RenewWAN};
    case 2:
        return {WithButtons(ui, {ui.txtIntvl, ui.txtPort, ui.txtMaxCon, ui.txtIPServer, ui.txtOnImage,
                                 ui.cmdSelectFont, ui.chkTransparent, ui.chkHeaders, ui.txtPassword}),
                {ui.txtIntvl, ui.txtPort, ui.txtMaxCon, ui.txtIPServer, ui.txtOnImage},
                Focus::First};
    case 3:
        return {WithButtons(ui, {ui.cmdChangeRes, ui.cmdDevice, ui.txtWidth, ui.txtHeight, ui.chkInvertImage,
                                 ui.cboRotate, ui.cboFlip}),
                {ui.txtWidth, ui.txtHeight},
                Focus::First};
    case 4:
        return {WithButtons(ui, {ui.chkSavelog, ui.chkUptime}), {}, Focus::None};
    default:
        return {WithButtons(ui, {}), {}, Focus::None};
    }
}

// Managed controls not on the list leave the Tab-key order (a click still
// focuses them); the listed ones join it in the order given.
void SetKeyboardOrder(Ui::frmMain &ui, const std::vector<QWidget *> &order)
{
    for (QWidget *control : ManagedControls(ui))
        control->setFocusPolicy(Qt::ClickFocus);
    for (QWidget *control : order)
        control->setFocusPolicy(Qt::StrongFocus);
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

} // namespace

void SelectPage(Ui::frmMain &ui, int lIndex)
{
    if (lIndex < 1 || lIndex > 5)
        return;
    const PageRule rule = RuleOf(ui, lIndex);
    SetKeyboardOrder(ui, rule.order);
    // The entry boxes show their text from its start. Their text is selected
    // as the focus reaches each of them (Tab selects a box's whole text), so
    // only the box with the focus ever shows a selection.
    for (QLineEdit *box : rule.selectOnEntry)
        box->setCursorPosition(0);
    ui.tabSettings->setCurrentIndex(lIndex - 1);
    // A control that cannot take the focus (hidden, disabled) simply does not.
    if (rule.focus == Focus::RenewWAN)
        ui.cmdRenewWAN->setFocus(Qt::TabFocusReason);
    else if (rule.focus == Focus::First)
        rule.order.front()->setFocus(Qt::TabFocusReason);
    if (auto *focused = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        focused && std::find(rule.selectOnEntry.begin(), rule.selectOnEntry.end(), focused) != rule.selectOnEntry.end())
        focused->selectAll();
}

void SetStartPageState(Ui::frmMain &ui)
{
    const QSignalBlocker quiet(ui.tabSettings);
    ui.tabSettings->setCurrentIndex(0);
    SetKeyboardOrder(ui, WithButtons(ui, {ui.chkPreview, ui.cmdPreview}));
}
