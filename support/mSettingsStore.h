#pragma once

#include <QString>
#include <memory>

class QSettings;

// One group of the program's settings file, ~/.config/Vorsk/Vorsk.conf: "prefs"
// for the window's settings, "capture" for the camera's own choice.
std::unique_ptr<QSettings> OpenSettingsGroup(const QString &sGroup);
