// The deadline-interrupt flag: set while the client signals its own process group to stop a core whose
// deadline has passed, so that the termination handler lets that SIGTERM pass.
#pragma once

#include <atomic>

#include "runtime/types.h"

extern std::atomic<u32> g_deadlineInterrupt;
static_assert(std::atomic<u32>::is_always_lock_free);
