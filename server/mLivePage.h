#pragma once

#include <QByteArray>
#include <QString>

// The words the page to watch shows, in the program's language.
struct LiveWords
{
    QString sCameraLive;
    QString sCameraGone; // %1: since when
    QString sUptime;
    QString sNoAnswer;
};

// The page to watch the camera on (/live), HTML with its style and script,
// UTF-8, nothing loaded from elsewhere: the live stream at the page's width,
// a picture a second where the stream shows nothing, the camera's state and
// the uptime from status.json beside it, and a new start of the stream when
// the server or the camera comes back. A ?key= of its own goes on to all it loads.
QByteArray LivePage(const LiveWords &words);
