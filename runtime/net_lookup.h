// Host name resolution to IPv4 addresses through the system resolver, serialised by one process-wide
// lock because the resolver is not re-entrant. Thread-safe.
#pragma once

#include "runtime/types.h"

// Writes up to max addresses (most significant byte = first number of the dotted form) and returns how many
// the name has (which may exceed max), 0 when it has none, or -1 for bad arguments.
[[nodiscard]] int v3NetLookup(const char* host, u32* addresses, u32 max);
