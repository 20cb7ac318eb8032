// The fetch loop of the work cycle.
#include "client/work_fetch.h"

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/retry_delay.h"
#include "net/work_exchange.h"
#include "state/queue_lock.h"
#include "state/queue_ops.h"
#include "state/work_queue.h"

namespace {

WorkFetcher g_fetcher = GetWork;

// Makes the slot the current one, READY. REQUIRES: the queue lock is held.
void MakeCurrent(WorkQueue* queue, u32 chosen, u32* slot) {
  queue->slots[chosen].state = SLOT_READY;
  queue->currentIndex = chosen;
  (void)SaveQueue(queue);
  *slot = chosen;
}

}  // namespace

void SetWorkFetcher(WorkFetcher fetcher) { g_fetcher = fetcher != nullptr ? fetcher : GetWork; }

int GetWorkIntoSlot(WorkQueue* queue, u32* slot) {
  for (;;) {
    u32 chosen = *slot;
    {
      // Finding a slot and claiming it happen under one hold of the lock: the send thread's deadline
      // sweep must not empty a READY slot between the two.
      QueueGuard guard;
      if (NextSlotInState(queue, SLOT_READY, &chosen) == 0) {
        MakeCurrent(queue, chosen, slot);
        return 0;
      }
      if (ChooseFreeSlot(queue, &chosen) != 0) return -1;
      std::memset(static_cast<void*>(&queue->slots[chosen]), 0, sizeof(QueueEntry));
      queue->slots[chosen].state = SLOT_FETCHING;
    }
    char dataPath[64];
    std::snprintf(dataPath, sizeof dataPath, "work/wudata_%02d.dat", static_cast<int>(chosen));
    RetryDelay(5000, 2880000, 15000);
    // The fetch fills a private entry, so a save by the send thread meanwhile never sees half a header.
    QueueEntry fetched{};
    for (int attempt = 1; g_fetcher(&fetched, dataPath, queue) != 0; ++attempt) {
      LOG_AT(3, "- Error: Getwork #%d failed, and no other work to do. Waiting before retry\n", attempt);
      (void)RetryDelay(0, 0, 0);
      fetched = QueueEntry{};
    }
    QueueGuard guard;
    // Only a slot still claimed for this fetch takes the unit; otherwise the search starts again.
    if (queue->slots[chosen].state == SLOT_FETCHING) {
      queue->slots[chosen] = fetched;
      MakeCurrent(queue, chosen, slot);
      return 0;
    }
  }
}
