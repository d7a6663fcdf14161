#pragma once

#include <QString>

// The HTML status page answered to "GET /uptime": title with the version,
// the uptime text and the count of pictures taken. One line, no line breaks.
QString retUptimePage(int lMajor, int lMinor, int lRevision, const QString &sUptime, const QString &sHits);
