// The work cycle. It owns the client's end: its first act is to install the shutdown handler.
#include "client/work_cycle.h"

#include <signal.h>

#include "client/core_launch.h"
#include "client/log.h"
#include "client/settings.h"
#include "client/startup.h"
#include "runtime/process.h"
#include "state/queue_slots.h"
#include "state/work_queue.h"

void WorkCycle(void* argument) {
  const RunOptions* options = static_cast<const RunOptions*>(argument);
  if (v3SignalRegister(SIGINT, ShutdownHandler) != 0 || v3SignalRegister(SIGTERM, ShutdownHandler) != 0) {
    LOG_AT(3, "Signal registration failed\n");
    StopClient();
    return;
  }
  u32 slot = g_workQueue.currentIndex;
  if (slot >= kQueueSlots) {
    LOG_AT(6, "- Bad Index stored in Work Queue. Has been reset to zero.\n");
    slot = 0;
  }
  switch (options->mode) {
    case RunMode::QueueInfo:
      LOG_AT(3, "Queue Status:\n");
      PrintQueue(&g_workQueue);
      StopClient();
      return;
    case RunMode::DeleteUnit:
      LOG_AT(3, "Deleting work unit #%u from work queue...\n", options->unitNumber);
      if (CleanUpUnit(options->unitNumber) != 0) LOG_AT(3, "- Failed to delete the requested work unit\n");
      StopClient();
      return;
    default:
      break;
  }
  // Units cannot be run yet: the thread waits until a signal ends the client.
  for (;;) v3Sleep(268435455);
}
