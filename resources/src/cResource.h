#pragma once
// The one class of the library: texts by ID from the string table in the language of its
// LangID, and pictures by ID.

#include "vorskres.h"

// A new object holding one reference; nullptr when memory is short.
cResourceInterface *CreateResourceObject();

// How many objects are alive, for DllCanUnloadNow.
std::uint32_t LiveResourceObjects();
