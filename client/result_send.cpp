// Result sending.
#include "client/result_send.h"

#include <atomic>
#include <cstdio>

#include "base/log.h"
#include "client/metrics.h"
#include "net/work_exchange.h"
#include "runtime/file.h"
#include "runtime/process.h"
#include "state/client_config.h"
#include "state/queue_lock.h"
#include "state/queue_ops.h"
#include "state/queue_slots.h"
#include "state/work_queue.h"

namespace {

std::atomic<bool> g_sending{false};
ResultSender g_sender = ReturnResults;

// Clears the sending flag on every way out.
class SendingFlag {
 public:
  bool Acquire() { return !g_sending.exchange(true); }
  ~SendingFlag() {
    if (held_) g_sending.store(false);
  }
  bool held_ = false;
};

// Empties the slot only while it still holds the unit that was sent: a send can take minutes, and the
// work cycle may meanwhile have dropped that unit and fetched another into the slot.
bool EmptyIfUnchanged(WorkQueue* queue, u32 slot, const QueueEntry& sent) {
  QueueGuard guard;
  const QueueEntry& now = queue->slots[slot];
  if (now.state != SLOT_DONE || !SameUnit(now, sent)) return false;
  (void)ClearSlot(queue, slot);
  return true;
}

int SendHeld(WorkQueue* queue, u32 slot) {
  if (slot >= kQueueSlots) {
    LOG_AT(6, "- Error: Bad queue index while trying to send finished unit\n");
    return -1;
  }
  QueueEntry entry;
  {
    QueueGuard guard;
    entry = queue->slots[slot];
  }
  if (entry.state != SLOT_DONE) {
    LOG_AT(6, "- Warning: Asked to send unfinished unit to server\n");
    return -1;
  }
  char resultPath[64];
  std::snprintf(resultPath, sizeof resultPath, "work/wuresults_%02d.dat", static_cast<int>(slot));
  const int rc = g_sender(&entry, resultPath);
  if (rc == 0) {
    NoteResultAccepted(entry.finished == 1);
    // The result file of a replaced unit may already be the new unit's own: it stays.
    if (EmptyIfUnchanged(queue, slot, entry)) (void)v3FileDelete(resultPath);
    return 0;
  }
  if (rc == -2) {
    LOG_AT(3, "- Error: Could not read unit %02d file. Removing from queue.\n", static_cast<int>(slot));
    (void)EmptyIfUnchanged(queue, slot, entry);
    return -1;
  }
  if (rc == 22) {
    (void)EmptyIfUnchanged(queue, slot, entry);
    return -1;
  }
  v3Date d{};
  if (v3TimeToDate(&d, entry.completed) != 0) d = v3Date{};
  LOG_AT(3, "- Error: Could not transmit unit %02d (completed %s %u). Keeping unit in queue.\n",
         static_cast<int>(slot), MonthNames[d.month], d.day + 1);
  return -1;
}

}  // namespace

void SetResultSender(ResultSender sender) { g_sender = sender != nullptr ? sender : ReturnResults; }

int SendFinishedUnit(WorkQueue* queue, u32 slot) {
  SendingFlag flag;
  if (!flag.Acquire()) {
    LOG_AT(9, "- Already sending work\n");
    return -1;
  }
  flag.held_ = true;
  return SendHeld(queue, slot);
}

int SendAllFinished(WorkQueue* queue) {
  LOG_AT(6, "Trying to send all finished work units\n");
  u32 sent = 0;
  u32 failed = 0;
  for (u32 s = 0; s < kQueueSlots; ++s) {
    bool done;
    {
      QueueGuard guard;
      done = queue->slots[s].state == SLOT_DONE;
    }
    if (!done) continue;
    if (SendFinishedUnit(queue, s) == 0) {
      ++sent;
    } else {
      ++failed;
    }
  }
  LOG_AT(6, "+ Sent %u completed units to the server\n", sent);
  return failed > 0 ? -1 : 0;
}

u32 g_autosendPeriodMs = 21600000;  // six hours

void AutosendLoop(void* raw) {
  auto* queue = static_cast<WorkQueue*>(raw);
  for (;;) {
    CheckDeadlines(queue);
    if (!g_clientSettings.askBeforeConnecting || g_clientSettings.connectionOpen) {
      LOG_AT(6, "- Autosending finished units...\n");
      (void)SendAllFinished(queue);
      LOG_AT(6, "- Autosend completed\n");
    }
    v3Sleep(g_autosendPeriodMs);
  }
}
