// Getting the next unit to run: a READY slot when there is one, otherwise fresh work fetched from the
// project into a free slot (the oldest unit is dropped when all ten are taken).
#pragma once

#include "state/queue_layout.h"

// The exchange that fetches one unit (the work server's, unless a test gives another): 0 when entry and the
// data file at dataPath hold a complete unit.
using WorkFetcher = int (*)(QueueEntry* entry, const char* dataPath, WorkQueue* queue);
void SetWorkFetcher(WorkFetcher fetcher);  // null: the work server's

// Makes the slot after *slot ready to run, fetching work when needed (retrying without limit); 0 with *slot
// set and made current, or -1 when the queue is full and no slot could be freed.
[[nodiscard]] int GetWorkIntoSlot(WorkQueue* queue, u32* slot);
