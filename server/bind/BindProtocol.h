#pragma once

#include <cstdint>

// What the port helper vorsk-bind sends over the AF_UNIX socket it was given:
// one message holding this status word (0, or the errno of the failure), with
// the listening socket attached as SCM_RIGHTS exactly when the status is 0.
using BindStatus = std::int32_t;
