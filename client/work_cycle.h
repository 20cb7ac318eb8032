// The work-cycle thread: one-shot modes or the unattended cycle.
#pragma once

#include "runtime/types.h"

// The pause between passes after most statuses: 5000 ms, unless a test program shortens it before the
// client starts.
extern u32 g_passPauseMs;

// Thread entry; the argument is the process-wide RunOptions.
void WorkCycle(void* runOptions);
