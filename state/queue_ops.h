// Operations on the queue's slots that need no network: searching, freeing a slot for the next unit
// (sacrificing the oldest unit when all are taken), deadlines, purging and the performance fraction.
// Each change holds the queue lock; none holds it across a core run or a network exchange.
#pragma once

#include "state/queue_layout.h"

// How a unit is dropped: its core removes its files and the slot is emptied. Registered at start-up.
using UnitCleaner = int (*)(u32 slot);
void SetUnitCleaner(UnitCleaner cleaner);
[[nodiscard]] int CleanUpSlot(u32 slot);

// The first slot in state after *slot, wrapping, *slot itself last; 0 with *slot set, or -1 unchanged.
[[nodiscard]] int NextSlotInState(const WorkQueue* queue, u32 state, u32* slot);
// The non-empty slot received earliest (the lowest on a tie); 0, or -1 when every slot is empty.
[[nodiscard]] int FindOldestSlot(const WorkQueue* queue, u32* slot);
// Drops every slot through the cleaner; 0 when all succeeded.
int PurgeAllUnits(WorkQueue* queue);
// Frees a slot for new work: an EMPTY one after *slot, or else the oldest unit (dropped whatever its
// state); 0 with *slot set, or -1 when the queue is full and nothing could be dropped.
[[nodiscard]] int ChooseFreeSlot(WorkQueue* queue, u32* slot);
// Reports and drops units whose deadline has passed (finished ones only when deadlines are honoured).
void CheckDeadlines(WorkQueue* queue);
// Logs "Unit N's deadline (...) has passed." for the sweep and for the running core's interrupt alike.
void LogDeadlinePassed(u32 slot, v3Time deadline);
// True when now is strictly later than the deadline (all 128 bits compared).
[[nodiscard]] bool DeadlinePassed(v3Time deadline);
// Results waiting for the work server at address, counted in a private copy read from the file.
[[nodiscard]] u32 CountFinishedForServer(u32 address);
// Folds the just-finished unit of slot into the performance fraction.
void UpdatePerformanceFraction(WorkQueue* queue, u32 slot);
