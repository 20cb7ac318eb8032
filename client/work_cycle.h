// The work-cycle thread: one-shot modes or the unattended cycle.
#pragma once

// Thread entry; the argument is the process-wide RunOptions.
void WorkCycle(void* runOptions);
