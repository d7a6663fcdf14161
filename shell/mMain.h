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

// The base name of the picture files: the wording's text when it is a plain
// file name (not empty, no "/", not "." or "..", short enough to take the
// endings the program adds), else "lastpic". The wording library is a file
// anyone may replace; it never chooses a folder.
QString PictureBaseName(const QString &sWording);
