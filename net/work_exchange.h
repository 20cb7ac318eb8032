// The exchanges with a work server: fetching a unit into a queue slot and returning a result.
#pragma once

#include "state/queue_layout.h"

// Fetches a unit: the reply header goes into entry, the work data to dataPath. 0 on success.
[[nodiscard]] int FetchWork(QueueEntry* entry, const char* dataPath, WorkQueue* queue);
// Returns a result: 0 accepted, -2 result file unreadable or no server address, 22 refused for good,
// any other value a failed transfer.
[[nodiscard]] int SendResult(QueueEntry* entry, const char* resultPath);
