// Slot searches, the queue-full policy, deadlines and the performance fraction.
#include "state/queue_ops.h"

#include <cstring>

#include "base/log.h"
#include "state/client_config.h"
#include "state/queue_lock.h"
#include "state/queue_slots.h"
#include "state/work_queue.h"

namespace {

UnitCleaner g_cleaner = nullptr;

}  // namespace

void LogDeadlinePassed(u32 slot, v3Time deadline) {
  v3Date d{};
  if (v3TimeToDate(&d, deadline) != 0) d = v3Date{};
  LOG_AT(3, "Unit %i's deadline (%s %u %02u:%02u) has passed.\n", static_cast<int>(slot), MonthNames[d.month],
         d.day + 1, d.hour, d.minute);
}

void SetUnitCleaner(UnitCleaner cleaner) { g_cleaner = cleaner; }

int CleanUpSlot(u32 slot) { return g_cleaner != nullptr ? g_cleaner(slot) : ClearSlot(&g_workQueue, slot); }

int NextSlotInState(const WorkQueue* queue, u32 state, u32* slot) {
  QueueGuard guard;
  const u32 start = *slot >= kQueueSlots - 1 ? 0 : *slot + 1;
  for (u32 step = 0; step < kQueueSlots; ++step) {
    const u32 candidate = (start + step) % kQueueSlots;
    if (queue->slots[candidate].state == state) {
      *slot = candidate;
      return 0;
    }
  }
  return -1;
}

int FindOldestSlot(const WorkQueue* queue, u32* slot) {
  // Earliest received, whatever the clock says now: a clock set back must not leave a full queue stuck.
  QueueGuard guard;
  v3Time best{};
  bool found = false;
  for (u32 s = 0; s < kQueueSlots; ++s) {
    const QueueEntry& e = queue->slots[s];
    if (e.state != SLOT_EMPTY && (!found || v3TimeCompare(e.received, best) < 0)) {
      best = e.received;
      *slot = s;
      found = true;
    }
  }
  return found ? 0 : -1;
}

int ChooseFreeSlot(WorkQueue* queue, u32* slot) {
  QueueGuard guard;
  if (NextSlotInState(queue, SLOT_EMPTY, slot) == 0) return 0;
  LOG_AT(3, "- Work queue full. Deleting oldest item\n");
  u32 oldest = 0;
  if (FindOldestSlot(queue, &oldest) != 0 || ClearSlot(queue, oldest) != 0) {
    LOG_AT(2, "- Fatal Error: Queue full, but delete failed\n");
    return -1;
  }
  *slot = oldest;
  return 0;
}

int PurgeAllUnits(WorkQueue*) {
  int rc = 0;
  for (u32 s = 0; s < kQueueSlots; ++s) {
    if (CleanUpSlot(s) != 0) rc = -1;
  }
  return rc;
}

bool DeadlinePassed(v3Time deadline) {
  v3Time now{};
  return v3ClockNow(&now) == 0 && v3TimeCompare(now, deadline) > 0;
}

void CheckDeadlines(WorkQueue* queue) {
  for (u32 state : {SLOT_DONE, SLOT_READY}) {
    for (u32 s = 0; s < kQueueSlots; ++s) {
      v3Time deadline{};
      {
        QueueGuard guard;
        const QueueEntry& e = queue->slots[s];
        if (e.state != state || !EntryDeadlineKnown(e) || !DeadlinePassed(e.deadline)) continue;
        deadline = e.deadline;
      }
      LogDeadlinePassed(s, deadline);
      // A finished result past its deadline is kept for sending when the user ignores deadlines.
      if (state == SLOT_READY || g_clientSettings.honourDeadlines) (void)CleanUpSlot(s);
    }
  }
}

u32 CountFinishedForServer(u32 address) {
  WorkQueue copy;
  if (LoadQueue(&copy) != 0) return 0;
  u32 count = 0;
  for (const QueueEntry& e : copy.slots) {
    if (e.state == SLOT_DONE && EntryServerAddress(e) == address) ++count;
  }
  return count;
}

void UpdatePerformanceFraction(WorkQueue* queue, u32 slot) {
  QueueGuard guard;
  const QueueEntry& e = queue->slots[slot];
  const s32 allowed = EntryDeadlineSeconds(e);
  if (!EntryDeadlineKnown(e) || allowed <= 0) return;
  const s64 elapsed = e.completed.seconds - e.received.seconds;
  const float remaining = static_cast<float>(1.0 - static_cast<double>(elapsed) / allowed);
  const u32 samples = queue->performanceSamples;
  queue->performanceFraction =
      static_cast<float>((remaining + samples * static_cast<double>(queue->performanceFraction)) / (samples + 1));
  if (samples <= 3) queue->performanceSamples = samples + 1;
  LOG_AT(6, "Unit %i finished with %.0f percent of time to deadline remaining.\n", static_cast<int>(slot),
         remaining * 100.0);
  LOG_AT(4, "Updated performance fraction: %f\n", static_cast<double>(queue->performanceFraction));
}
