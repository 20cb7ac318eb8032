// Operations on single queue slots.
#pragma once

#include "state/queue_layout.h"

// Sets the slot EMPTY and saves the queue; -1 for a slot above 9, else the save's result. Work files stay.
[[nodiscard]] int ClearSlot(WorkQueue* queue, u32 slot);
// The listing of -queueinfo, written whole through the log.
void PrintQueue(const WorkQueue* queue);
