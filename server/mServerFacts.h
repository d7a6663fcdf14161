#pragma once

#include <QString>
#include <QtGlobal>
#include <ctime>
#include <optional>

// The connections the server has counted since it was made; filled on its
// I/O thread, read there too.
struct ServerCounts
{
    quint64 accepted = 0;
    quint64 overLimit = 0; // closed unanswered after their wait for a slot
    quint64 banned = 0;
    quint64 keyRefused = 0; // a request without the password, or from an address locked out
};

// What the window (or the headless face) knows and the server does not.
struct FaceFacts
{
    QString sVersion;
    qint64 pictures = 0; // taken by the capture timer since start-up
    QString sCameraId;
    // The camera gives no picture since then; none while it does.
    std::optional<std::time_t> cameraGoneSince;
};

// Everything /status.json and /metrics tell.
struct ServerFacts
{
    FaceFacts face;
    qint64 uptimeSeconds = 0;
    std::optional<std::time_t> lastPicture;
    int streamViewers = 0;
    ServerCounts counts;
};
