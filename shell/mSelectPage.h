#pragma once

namespace Ui {
class frmMain;
}

// The tab strip's click: only the selected page's managed controls are in the
// Tab-key order, in the page's order; its entry boxes get their text selected
// and its first control the focus. lIndex counts from 1; others do nothing.
void SelectPage(Ui::frmMain &ui, int lIndex);

// The Status page in front with its short keyboard order; the focus stays.
void SetStartPageState(Ui::frmMain &ui);
