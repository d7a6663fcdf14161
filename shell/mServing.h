#pragma once

#include "cCaptureCycle.h"

#include <QString>

struct Prefs;

// What the window and the headless face both do with their settings and the
// server's news, so neither has a copy of its own.

// The settings of one capture cycle; the image is not inverted and there is
// no preview.
CaptureSettings CaptureSettingsOf(const Prefs &prefs);

// Full path of the published picture in the private folder; empty when there
// is no such folder.
QString PicturePath(const QString &sJpgFile);

// The event log's line for a connection accepted or refused from an address.
QString ConnectionLogText(bool bAccepted, const QString &sAddress);

// The event log's line for a capture step that failed or works again.
QString CycleEventText(const CycleEvent &event);
