// Dropping a unit: the core removes its files, the slot is emptied.
#include <cstdio>

#include "base/log.h"
#include "client/core_files.h"
#include "client/core_launch.h"
#include "runtime/file.h"
#include "state/queue_lock.h"
#include "state/queue_slots.h"
#include "state/work_queue.h"

int CleanUpUnit(u32 slot) {
  if (slot >= kQueueSlots) return ClearSlot(&g_workQueue, slot);
  char suffix[8];
  char core[kCoreFileNameCapacity];
  char coreLog[64];
  std::snprintf(suffix, sizeof suffix, "%02d", static_cast<int>(slot));
  {
    QueueGuard guard;
    CoreFileName(EntryCoreNumber(g_workQueue.slots[slot]), core);
  }
  std::snprintf(coreLog, sizeof coreLog, "%slogfile_%02u.txt", kWorkDirectory, slot);
  const char* reason = "Core file absent";
  if (CorePresent(core)) {
    if (LaunchCore(core, kWorkDirectory, suffix, 1) == SPECIAL_EXIT) {
      (void)v3FileDelete(coreLog);
      return ClearSlot(&g_workQueue, slot);
    }
    reason = "Core returned invalid code";
  }
  LOG_AT(6, "- Warning: Could not delete all work unit files (%u): %s\n", slot, reason);
  (void)ClearSlot(&g_workQueue, slot);
  return -1;
}
