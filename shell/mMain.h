#pragma once

#include <QString>

// The program's version numbers; the version text reads 3.0.30.
constexpr int kVersionMajor = 3;
constexpr int kVersionMinor = 0;
constexpr int kVersionRevision = 0;

// Major, ".", minor, ".3" and the revision, each in plain decimal.
QString VersionText(int lMajor, int lMinor, int lRevision);

// True when the window is drawn in the classic look: always on a system that
// is not Windows XP, which Linux never is; there the desktop's theme switch
// decides.
bool IsClassicStyle();

// The help page installed with the program (beside the executable in a build
// tree, or in the installed data folder); empty when there is none.
QString HelpPagePath();
