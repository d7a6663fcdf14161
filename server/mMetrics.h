#pragma once

#include "mServerFacts.h"

#include <QByteArray>

// The facts in Prometheus's text format (version 0.0.4), every name
// beginning "vorsk_": counters end in "_total", units are in the names.
QByteArray MetricsText(const ServerFacts &facts);
