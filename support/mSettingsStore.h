#pragma once

#include <QString>
#include <memory>

class QSettings;

// One group of the program's settings file, ~/.config/Vorsk/Vorsk.conf unless
// another file was named: "prefs" for the window's settings, "capture" for the
// camera's own choice.
std::unique_ptr<QSettings> OpenSettingsGroup(const QString &sGroup);

// From now on the settings live in this INI file instead.
void UseSettingsFile(const QString &sPath);

// The file named with UseSettingsFile; empty while the default file is used.
QString NamedSettingsFile();

// The path of the settings file in use, the default one or the one named.
QString SettingsFileInUse();

// Why a settings file cannot be read (missing, no file, refused); empty when
// it can. It is never created here.
QString SettingsFileProblem(const QString &sPath);
