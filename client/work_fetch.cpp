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

int GetWorkIntoSlot(WorkQueue* queue, u32* slot) {
  u32 chosen = *slot;
  if (NextSlotInState(queue, SLOT_READY, &chosen) != 0) {
    if (ChooseFreeSlot(queue, &chosen) != 0) return -1;
    {
      QueueGuard guard;
      std::memset(static_cast<void*>(&queue->slots[chosen]), 0, sizeof(QueueEntry));
      queue->slots[chosen].state = SLOT_FETCHING;
    }
    char dataPath[64];
    std::snprintf(dataPath, sizeof dataPath, "work/wudata_%02d.dat", static_cast<int>(chosen));
    RetryDelay(5000, 2880000, 15000);
    // The fetch fills a private entry, so a save by the send thread meanwhile never sees half a header.
    QueueEntry fetched{};
    for (int attempt = 1; FetchWork(&fetched, dataPath, queue) != 0; ++attempt) {
      LOG_AT(3, "- Error: Getwork #%d failed, and no other work to do. Waiting before retry\n", attempt);
      (void)RetryDelay(0, 0, 0);
      fetched = QueueEntry{};
    }
    QueueGuard guard;
    queue->slots[chosen] = fetched;
  }
  QueueGuard guard;
  queue->slots[chosen].state = SLOT_READY;
  queue->currentIndex = chosen;
  (void)SaveQueue(queue);
  *slot = chosen;
  return 0;
}
