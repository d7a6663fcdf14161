#pragma once

#include "mServerFacts.h"

#include <QByteArray>

// The status page's facts as one JSON object (UTF-8), times in ISO 8601 UTC.
QByteArray StatusJson(const ServerFacts &facts);

// A time as ISO 8601 in UTC ("2026-12-08T11:44:55+00:00").
QString IsoTime(std::time_t time);
