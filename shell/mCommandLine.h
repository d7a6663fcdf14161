#pragma once

#include <QString>
#include <QStringList>
#include <variant>

// What the program was asked for on its command line.
struct CommandLine
{
    // The server alone, without a window.
    bool bHeadless = false;
    // Another settings file than the user's own; empty for the usual one.
    QString sConfigFile;
    // A camera as VORSK_CAMERA names it; empty to leave the choice alone.
    QString sCamera;
};

// Reads the arguments (the program's name first). Help and version are
// printed here and end the program with 0; an option the program does not
// know ends it with 2 (so does one of Qt's with --headless), a settings file
// that cannot be read with 1, and so does the window without a display to
// show it on. Either way the exit status comes back instead of the options.
// Qt's own options are left for QApplication.
std::variant<CommandLine, int> ReadCommandLine(const QStringList &arguments);

// Puts the options in force for the rest of the run: the settings file and
// the camera.
void UseCommandLine(const CommandLine &options);
