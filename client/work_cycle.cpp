// The work cycle: one-shot modes, or the unattended loop of passes over the queue's units. It owns the
// client's end: its first act is to install the shutdown handler.
#include "client/work_cycle.h"

#include <signal.h>

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/log_open.h"
#include "base/retry_delay.h"
#include "base/settings.h"
#include "build_config.h"
#include "client/core_files.h"
#include "client/core_flags.h"
#include "client/core_launch.h"
#include "client/metrics.h"
#include "client/result_send.h"
#include "client/startup.h"
#include "client/work_fetch.h"
#include "cores/core_download.h"
#include "runtime/console.h"
#include "runtime/process.h"
#include "state/queue_lock.h"
#include "state/queue_ops.h"
#include "state/queue_slots.h"
#include "state/work_queue.h"

u32 g_passPauseMs = 5000;

namespace {

// The counters of one unattended run.
struct Cycle {
  u32 failurePoints = 0;
  u32 renewals = 0;
  u32 deletionMark = 0;
  u32 errorsInRun = 0;
  u32 newCore = 0;
  u32 slot = 0;
  char nn[4] = "00";
};

enum class Next { Continue, EndThread };

void SetSlot(Cycle* c, u32 slot) {
  c->slot = slot;
  std::snprintf(c->nn, sizeof c->nn, "%02d", static_cast<int>(slot));
}

// Makes the next unit ready; false (after the fatal message) when the queue is full for good.
bool NextUnit(Cycle* c) {
  u32 slot = c->slot;
  if (GetWorkIntoSlot(&g_workQueue, &slot) != 0) {
    LOG_AT(3, "Fatal: Work queue full\n");
    return false;
  }
  SetSlot(c, slot);
  return true;
}

void RunOneShot(const RunOptions* options) {
  switch (options->mode) {
    case RunMode::QueueInfo:
      LOG_AT(3, "Queue Status:\n");
      PrintQueue(&g_workQueue);
      break;
    case RunMode::DeleteUnit:
      LOG_AT(3, "Deleting work unit #%u from work queue...\n", options->unitNumber);
      if (CleanUpUnit(options->unitNumber) != 0) LOG_AT(3, "- Failed to delete the requested work unit\n");
      break;
    default:
      LOG_AT(3, "Attempting to return result(s) to server...\n");
      if (options->sendAll) {
        if (SendAllFinished(&g_workQueue) != 0) LOG_AT(3, "- Failed to send all units to server\n");
      } else if (SendFinishedUnit(&g_workQueue, options->sendUnitNumber) != 0) {
        LOG_AT(3, "- Failed to send unit %02d to server\n", static_cast<int>(options->sendUnitNumber));
      }
      break;
  }
  StopClient();
}

// Statuses 100 and 114: the unit is DONE, its result is sent, and the next unit is made ready.
Next HandIn(Cycle* c) {
  LOG_AT(3, "Sending work to server\n");
  {
    QueueGuard guard;
    QueueEntry& e = g_workQueue.slots[c->slot];
    e.state = SLOT_DONE;
    (void)v3ClockNow(&e.completed);
    UpdatePerformanceFraction(&g_workQueue, c->slot);
    (void)SaveQueue(&g_workQueue);
  }
  if (SendFinishedUnit(&g_workQueue, c->slot) == 0) (void)CleanUpUnit(c->slot);
  (void)SendAllFinished(&g_workQueue);
  c->errorsInRun = 0;
  c->failurePoints = 0;
  if (g_settings.pauseAfterUnit == 1) {
    LOG_AT(3, "+ Paused after finishing unit\n");
    LOG_AT(3, "Press Enter to continue, Ctrl-C to exit...\n");
    char line[64];
    (void)v3Input(line, sizeof line, 1);
    g_settings.pauseAfterUnit = 0;
  }
  return NextUnit(c) ? Next::Continue : Next::EndThread;
}

void CoreName(const Cycle& c, char name[kAssignCoreNameSize + 1]) {
  QueueGuard guard;
  EntryCoreName(g_workQueue.slots[c.slot], name);
}

// interrupted: the run just ended had been signalled to stop at its unit's deadline.
Next ActOnStatus(Cycle* c, u32 status, bool interrupted) {
  switch (status) {
    case SETTINGS_CHANGED:
      LOG_AT(3, "+ Restarting core (settings changed) \n");
      g_restartFlag = 1;
      return Next::Continue;
    case START_FAILED: {
      char name[kAssignCoreNameSize + 1];
      CoreName(*c, name);
      LOG_AT(3, "+ Error starting %s core.\n", name[0] != '\0' ? name : "Quorvane");
      c->failurePoints += 1;
      return Next::Continue;
    }
    case RESULT_READY: {
      {
        QueueGuard guard;
        g_workQueue.slots[c->slot].finished = 1;
      }
      c->renewals = 0;
      return HandIn(c);
    }
    case SPECIAL_EXIT:
      LOG_AT(3, "Core internal error: SPECIAL_EXIT\n");
      c->failurePoints += 1;
      return Next::Continue;
    case STOP_REQUESTED:
      if (interrupted) {
        (void)CleanUpUnit(c->slot);
        return NextUnit(c) ? Next::Continue : Next::EndThread;
      }
      LOG_AT(3, "+ Shutdown requested by user. Exiting.");
      StopClient();
      return Next::EndThread;
    case CORE_TOO_OLD:
      LOG_AT(3, "+ Core out of date. Auto updating...\n");
      if (c->newCore) {
        LOG_AT(3, "New core downloaded for this work unit, but still out of date.\n");
        c->deletionMark = 1;
      }
      c->failurePoints += 3;
      return Next::Continue;
    case UNKNOWN_WORK_FORMAT:
      LOG_AT(3, "+ The core could not recognize the format of the provided work file.\n");
      c->deletionMark = 1;
      return Next::Continue;
    case WORK_NOT_VALID:
      LOG_AT(3, "+ The core could not validate the current work unit for processing.\n");
      c->deletionMark = 1;
      return Next::Continue;
    case WORK_FILES_CORRUPT:
      LOG_AT(3, "+ Work unit files corrupt\n");
      LOG_AT(3, "Possibly received incorrectly.\n");
      c->deletionMark = 1;
      return Next::Continue;
    case UNIT_JUDGED_BAD:
      return HandIn(c);
    case ARGS_NOT_RECOGNISED:
      LOG_AT(3, "Client internal error: Core did not recognize client arguments.\n");
      c->failurePoints += 1;
      return Next::Continue;
    case WORK_FILES_MISSING:
      LOG_AT(3, "The core could not find the work files specified. Removing from queue\n");
      c->deletionMark = 1;
      return Next::Continue;
    case FILE_READ_ERROR:
      LOG_AT(3, "Error opening or reading from a file.\n");
      c->deletionMark = 1;
      return Next::Continue;
    case CORE_MISSING:
      LOG_AT(3, "- Core is not present or corrupted.\n");
      c->failurePoints += 3;
      return Next::Continue;
    default:
      LOG_AT(3, "Client-core communications error: ERROR 0x%x\n", status);
      c->failurePoints += 1;
      c->deletionMark = 1;
      return Next::Continue;
  }
}

// Three failure points mean a fresh core; from the sixth renewal without a result on, a day's rest first.
void RenewCore(Cycle* c, const char* core) {
  if (++c->renewals >= 6) {
    LOG_AT(3,
           "\nQuorvane will go to sleep for 1 day as there have been %i consecutive Cores executed which failed to "
           "complete a work unit.\n",
           5);
    LOG_AT(3, "(To wake it up early, quit the application and restart it.)\n");
    LOG_AT(3, "If problems persist, please visit our website at %s for help.\n", QVN_WEB_ADDRESS);
    LOG_AT(3, "+ Sleeping...\n\n");
    v3Sleep(86400000);
    LOG_AT(3, "Waking.\n");
  }
  LOG_AT(3, "- Attempting to download new core...\n");
  RetryDelay(5000, 2880000, 15000);
  u32 coreNumber;
  char location[kCoreLocationSize + 1];
  u8 option;
  {
    QueueGuard guard;
    const QueueEntry& e = g_workQueue.slots[c->slot];
    coreNumber = EntryCoreNumber(e);
    std::memcpy(location, e.coreLocation, kCoreLocationSize);
    location[kCoreLocationSize] = '\0';
    option = e.coreDownloadOption;
  }
  for (int attempts = 0; DownloadCore(coreNumber, core, location, option) != 0;) {
    if (++attempts > 20) {
      c->deletionMark = 1;
      LOG_AT(3, "- Giving up on downloading core, trying new work unit instead\n");
      break;
    }
    LOG_AT(3, "+ Core download error (#%d), waiting before retry...\n\n", attempts + 1);
    (void)RetryDelay(0, 0, 0);
  }
  c->failurePoints = 0;
  c->newCore = 1;
}

enum class Drop { None, Purged, Dropped, EndThread };

Drop DropUnit(Cycle* c) {
  if (!c->deletionMark) return Drop::None;
  if (c->errorsInRun++ >= 10) {
    LOG_AT(3, "Too many errors during run. Purging queue.\n");
    (void)PurgeAllUnits(&g_workQueue);
    c->errorsInRun = 0;
    // The purged slots are empty: the next pass runs fresh work, not the dropped unit's core on deleted
    // files, and that fresh unit starts with no mark against it.
    c->deletionMark = 0;
    c->newCore = 0;
    return NextUnit(c) ? Drop::Purged : Drop::EndThread;
  }
  LogPrint("Deleting current work unit & continuing...\n");
  (void)CleanUpUnit(c->slot);
  c->deletionMark = 0;
  c->newCore = 0;
  (void)SendAllFinished(&g_workQueue);
  return NextUnit(c) ? Drop::Dropped : Drop::EndThread;
}

void RunUnattended(u32 startSlot) {
  Cycle c;
  SetSlot(&c, startSlot);
  CheckDeadlines(&g_workQueue);
  u64 sender = 0;
  if (v3ThreadStart(&sender, AutosendLoop, &g_workQueue, 4096) != 0) {
    LOG_AT(3, "Warning: Could not start work queue send thread\n");
    (void)SendAllFinished(&g_workQueue);
  }
  bool ready;
  {
    QueueGuard guard;
    ready = g_workQueue.slots[c.slot].state == SLOT_READY;
  }
  if (!ready && !NextUnit(&c)) return;

  for (;;) {
    u32 coreNumber;
    {
      QueueGuard guard;
      g_workQueue.slots[c.slot].state = SLOT_ACTIVE;  // in memory only: saves store it as READY
      coreNumber = EntryCoreNumber(g_workQueue.slots[c.slot]);
    }
    RotateLogIfFull();  // the log stays bounded however long the client runs
    LOG_AT(3, "\n");
    LOG_AT(3, "+ Processing work unit\n");
    char core[kCoreFileNameCapacity];
    CoreFileName(coreNumber, core);
    LOG_AT(3, "Core required: %s\n", core);
    u32 status;
    if (!CorePresent(core)) {
      LOG_AT(3, "Core not found.\n");
      status = CORE_MISSING;
    } else {
      LOG_AT(3, "Core found.\n");
      NoteCoreStarted();
      status = LaunchCore(core, kWorkDirectory, c.nn, 0);
      LOG_AT(3, "CoreStatus = %X (%d)\n", status, static_cast<int>(status));
    }
    // The interrupt belongs to the run that just ended, however it ended: from here on SIGTERM stops the
    // client again.
    const bool interrupted = g_deadlineInterrupt.exchange(0) != 0;
    NoteCoreRun(status);
    if (ActOnStatus(&c, status, interrupted) == Next::EndThread) return;
    if (c.failurePoints >= 3) RenewCore(&c, core);
    const Drop drop = DropUnit(&c);
    if (drop == Drop::EndThread) return;
    if (drop == Drop::Purged) continue;
    if (status != SETTINGS_CHANGED && status != RESULT_READY) v3Sleep(g_passPauseMs);
  }
}

}  // namespace

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
  if (options->mode == RunMode::Run || options->mode == RunMode::Configure) {
    RunUnattended(slot);
  } else {
    RunOneShot(options);
  }
}
