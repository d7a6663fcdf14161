#pragma once

#include <QString>

// The server's uptime, counted in one-second ticks.

// Advances the clock by one second and returns the uptime text, e.g.
// "0 Days 0 Hours 1 Minutes 0 Secs " (the words as given, one space at the end).
QString UptimeTick(QString daysWord, QString hoursWord, QString minutesWord, QString secsWord);

// Sets the clock back to zero.
void UptimeReset();
