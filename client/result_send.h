// Returning finished results: one at a time across the whole process (a second sender fails at once
// instead of waiting), all waiting results at once, and the six-hourly send loop.
#pragma once

#include "state/queue_layout.h"

// 0 when the server accepted the slot's result (the slot is emptied), -1 otherwise.
[[nodiscard]] int SendFinishedUnit(WorkQueue* queue, u32 slot);
// Sends every DONE slot; 0 when none failed.
int SendAllFinished(WorkQueue* queue);
// The send thread: deadline sweep and sending, every six hours, for ever. The argument is the queue.
void AutosendLoop(void* queue);
