// Returning finished results: one at a time across the whole process (a second sender fails at once
// instead of waiting), all waiting results at once, and the six-hourly send loop.
#pragma once

#include "state/queue_layout.h"

// The exchange that returns one result (the work server's, unless a test gives another): 0 accepted, -2
// result file unreadable, 22 refused for good, anything else a failed transfer.
using ResultSender = int (*)(QueueEntry* entry, const char* resultPath);
void SetResultSender(ResultSender sender);  // null: the work server's
// 0 when the server accepted the slot's result, -1 otherwise. The slot is emptied (and its result file
// deleted) only if it still holds the unit that was sent.
[[nodiscard]] int SendFinishedUnit(WorkQueue* queue, u32 slot);
// Sends every DONE slot; 0 when none failed.
int SendAllFinished(WorkQueue* queue);
// The send thread: deadline sweep and sending, every six hours, for ever. The argument is the queue.
void AutosendLoop(void* queue);
// The send thread's pause between passes: six hours (the test client may shorten it).
extern u32 g_autosendPeriodMs;
