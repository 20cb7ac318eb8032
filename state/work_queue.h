// The queue file "queue.dat": loading (with conversion of older layouts), saving, creation, and the
// start-up purge of slots in unknown states. Messages go to the log.
#pragma once

#include "state/queue_layout.h"

inline constexpr const char* kQueueFileName = "queue.dat";

// The one queue of the run, created at start-up and kept until the end.
extern WorkQueue g_workQueue;

// Reads (and if need be converts) "queue.dat"; 0, or -1 when it cannot be opened or converted.
// A file shorter than its layout loads with the missing bytes zero.
[[nodiscard]] int LoadQueue(WorkQueue* queue);
// Rebuilds the queue from an older layout (image holds the file's bytes, zero after its end) and saves it.
[[nodiscard]] int ConvertOldQueue(WorkQueue* queue, const u8* image);
// Replaces "queue.dat" whole; ACTIVE slots are stored as READY (in memory they stay ACTIVE). 0 or -1.
[[nodiscard]] int SaveQueue(WorkQueue* queue);
// Called after every successful save, with the queue lock held (the metrics file follows the queue).
void SetQueueSavedHook(void (*hook)());
// An empty queue, saved at once; a failed save ends the process.
void CreateQueue(WorkQueue* queue);
// Removes every slot whose state is above 4 through cleanUpUnit (which empties and saves the slot).
void PurgeUnknownSlots(WorkQueue* queue, int (*cleanUpUnit)(u32 slot));
