#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <ctime>
#include <optional>

// Dates as HTTP writes them, in any locale: "Sun, 06 Nov 1994 08:49:37 GMT".
QByteArray HttpDate(std::time_t when);

// A date a client sent: the form above, and the two older forms clients may
// still send ("Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994").
// Nothing for anything else, an impossible date among them.
std::optional<std::time_t> ParseHttpDate(QByteArrayView text);
