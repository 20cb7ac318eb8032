// Process-wide flags of core runs, written by one thread and polled by others.
#pragma once

#include <atomic>

#include "runtime/types.h"

// Set while a core runs (clean-up runs included).
extern std::atomic<u32> g_coreRunning;
// Set after a core stopped for changed settings: the next launch (only) carries " -notermcheck".
extern std::atomic<u32> g_restartFlag;
// Set while the client signals its own process group to stop a core whose deadline has passed, so that
// the termination handler lets that SIGTERM pass; cleared when the work cycle has handled the stop.
extern std::atomic<u32> g_deadlineInterrupt;
static_assert(std::atomic<u32>::is_always_lock_free);
