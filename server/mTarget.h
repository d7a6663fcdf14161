#pragma once

#include <QByteArray>

// What an HTTP request's target asks for.
enum class Asked
{
    Picture,
    Stream,
    StatusPage, // /uptime
    Live,       // the page to watch the stream on
    StatusJson,
    Metrics,
};

// The query's action=stream or action=snapshot, on any path, as the web pages of
// printers and home-automation systems ask for a webcam's stream and picture;
// else the path: /uptime (any case, anything after it), /stream, /live,
// /status.json and /metrics; anything else is the picture.
Asked WhatTargetAsks(const QByteArray &path, const QByteArray &query);
