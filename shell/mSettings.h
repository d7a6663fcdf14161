#pragma once

#include <QString>

namespace Ui {
class frmMain;
}

// The public address service a first start uses: plain HTTP, answers the
// caller's address as plain text.
inline const QString kDefaultIPServer = QStringLiteral("http://api.ipify.org/");

// Copies the stored settings into the window's controls, key by key; a key
// that is missing takes its default, and so does a numeric box whose value is
// no number; any other value that does not convert leaves its control as it
// is. Ends with the pages in their start state.
void LoadSettings(Ui::frmMain &ui);

// Copies the controls back into the store, one key at a time.
void SaveSettings(const Ui::frmMain &ui);

// The stored ban list into txtBan, one address a line.
void LoadBanList(Ui::frmMain &ui);
