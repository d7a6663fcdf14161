#pragma once

#include "mFrameTurn.h"

#include <QFont>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace Ui {
class frmMain;
}

// The public address service a first start uses: plain HTTP, answers the
// caller's address as plain text.
inline const QString kDefaultIPServer = QStringLiteral("http://api.ipify.org/");

// The persisted settings as values, named after the controls that hold them
// in the window.
struct Prefs
{
    QString sIPServer;
    QString sPort;
    QString sIntvl;
    QString sWidth;
    QString sHeight;
    QString sMaxCon;
    int lQuality = 70;
    QString sQualityLabel;
    QFont font;
    QString sOnImage;
    std::uint32_t lBackColor = 0x000000;
    std::uint32_t lForeColor = 0xFFFFFF;
    bool bPreview = false;
    bool bTransparent = false;
    bool bUptime = true;
    bool bSavelog = false;
    // Kept in a group of its own, "server", beside the window's "prefs".
    bool bHeaders = false;
    // [server] password: what viewers must give; empty, everyone may watch.
    QString sPassword;
    // [capture] rotate and flip: how the camera's frame is turned.
    FrameTurn turn;
};

// Reads the stored settings over prefs, key by key: a key that is missing
// takes its default, and so does a numeric value that is no number; any other
// value that does not convert leaves prefs as it is. The settings file is
// only read.
void ReadPrefs(Prefs &prefs);

// The settings as the window's controls hold them now.
Prefs PrefsOf(const Ui::frmMain &ui);

// Copies the stored settings into the window's controls, key by key; a key
// that is missing takes its default, and so does a numeric box whose value is
// no number; any other value that does not convert leaves its control as it
// is. Ends with the pages in their start state.
void LoadSettings(Ui::frmMain &ui);

// Copies the controls back into the store, one key at a time.
void SaveSettings(const Ui::frmMain &ui);

// The stored ban list, one address a line.
QString StoredBanList();

// The most pictures a second of the live stream, [server] streamfps; 0, the
// camera's own rate, when missing or no number above 0.
double StoredStreamFps();

// The one address the server listens on, [server] listen (numeric, or a host
// name such as localhost); empty, every address, when missing.
QString StoredListenAddress();
// Whether a request that finds the picture older than the capture interval
// waits for a fresh one, [server] freshpicture (settings file only); true
// unless it holds a truth value that is false.
bool StoredFreshPicture();
// The origins of other sites whose pages may read the pictures and the
// JSON, [server] alloworigin, as written: separated by commas or blanks.
QStringList StoredAllowOrigin();

// One line for a settings file that holds a password while others may read
// it; empty when the file is its owner's alone, or holds none.
QString PasswordExposedText(const QString &sPassword);

// The stored ban list into txtBan, one address a line.
void LoadBanList(Ui::frmMain &ui);
