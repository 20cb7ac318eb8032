// Process-wide flags of core runs, written by one thread and polled by others.
#pragma once

#include <atomic>

#include "runtime/types.h"

// Set while a core runs (clean-up runs included).
extern std::atomic<u32> g_coreRunning;
// Set after a core stopped for changed settings: the next launch (only) carries " -notermcheck".
extern std::atomic<u32> g_restartFlag;
// Set when the client has signalled the running core to stop because its deadline has passed; the
// termination handler ignores SIGTERM meanwhile. It lives only while that core runs: the work cycle clears
// it as soon as the run ends, however it ended, so the client can always be stopped afterwards.
extern std::atomic<u32> g_deadlineInterrupt;
// The process of the core that the work cycle runs now (not of clean-up runs), 0 when none runs.
extern std::atomic<u64> g_coreProcess;
// Why that core is stopped now ("on battery", "busy", "outside hours"), or null while it runs.
extern std::atomic<const char*> g_corePauseReason;
static_assert(std::atomic<u32>::is_always_lock_free);
