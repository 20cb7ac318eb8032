// Progress checks and the unit status file.
#include "client/unit_progress.h"

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/log.h"
#include "client/core_flags.h"
#include "client/metrics.h"
#include "runtime/file.h"
#include "runtime/process.h"
#include "runtime/shell.h"
#include "state/byte_order.h"
#include "state/client_config.h"
#include "state/queue_lock.h"
#include "state/queue_ops.h"
#include "state/work_queue.h"

namespace {

void AppendDate(std::string* text, const char* label, v3Time t) {
  v3Date d{};
  if (v3TimeToDate(&d, t) != 0) d = v3Date{};
  char line[96];
  std::snprintf(line, sizeof line, "%s: %s %u %02u:%02u:%02u\n", label, MonthNames[d.month], d.day + 1, d.hour,
                d.minute, d.second);
  *text += line;
}

// Stops the running core with SIGTERM, sent to the core alone: the client's process group may hold the
// shell or service that started it.
void InterruptCore(u32 slot, v3Time deadline) {
  // The flag comes first: whoever reads the line below may rely on a SIGTERM being ignored from then on.
  g_deadlineInterrupt = 1;
  LogDeadlinePassed(slot, deadline);
  LOG_AT(3, "Going to interrupt core and move on to next unit...\n");
  // A paused core must be running to receive the SIGTERM (a running one is sent no SIGCONT).
  if (g_corePauseReason.exchange(nullptr) != nullptr) (void)v3ShellSignal(g_coreProcess.load(), SIGCONT);
  (void)v3ShellSignal(g_coreProcess.load(), SIGTERM);
}

}  // namespace

int CheckUnitProgress() {
  QueueEntry entry;
  u32 slot;
  {
    QueueGuard guard;
    slot = g_workQueue.currentIndex;
    if (slot >= kQueueSlots) return -1;
    entry = g_workQueue.slots[slot];
  }
  if (entry.state != SLOT_ACTIVE && entry.state != SLOT_READY) return -1;
  if (g_clientSettings.honourDeadlines && g_coreRunning.load() != 0 && entry.state == SLOT_ACTIVE &&
      EntryDeadlineKnown(entry) && DeadlinePassed(entry.deadline)) {
    InterruptCore(slot, entry.deadline);
    return -1;
  }
  char path[64];
  std::snprintf(path, sizeof path, "work/wuinfo_%02u.dat", slot);
  RuntimeFile file{};
  if (v3FileOpen(&file, path, V3_FILE_READ, V3_LOCK_NONE) != 0) return -1;
  u8 info[kUnitInfoSize];
  u64 got = 0;
  const int rc = v3FileRead(info, &got, &file, kUnitInfoSize);
  v3FileClose(&file);
  if (rc != 0 || got < kUnitInfoSize) return -1;
  NoteProgress(LoadLE32(info + 88), LoadLE32(info + 84));
  WriteUnitInfo(info, entry.received, EntryDeadlineKnown(entry) ? &entry.deadline : nullptr);
  return 0;
}

void WriteUnitInfo(const u8 info[kUnitInfoSize], v3Time received, const v3Time* deadline) {
  char name[81];
  std::memcpy(name, info + 4, 80);
  name[80] = '\0';
  const u32 total = LoadLE32(info + 84);
  const u32 completed = LoadLE32(info + 88);
  // A core may report more done than in total: the percentage and the bar stay within 0 to 100.
  const double share = total == 0 ? 0.0 : static_cast<double>(completed) / total * 100.0;
  const int progress = share >= 100.0 ? 100 : static_cast<int>(share);

  std::string text = "Current Work Unit\n-----------------\nName: ";
  text += name;
  text += "\n";
  AppendDate(&text, "Download time", received);
  if (deadline != nullptr) AppendDate(&text, "Due time", *deadline);
  char line[64];
  std::snprintf(line, sizeof line, "Progress: %d%%  [", progress);
  text += line;
  const int bars = progress / 10;
  text.append(static_cast<size_t>(bars), '|');
  text.append(static_cast<size_t>(10 - bars), '_');
  text += "]\n";
  if (const char* reason = g_corePauseReason.load()) {
    text += "State: paused (";
    text += reason;
    text += ")\n";
  }

  // A core reports far more often than its percentage moves: a file that already says this stays as it is
  // (rewriting it costs the disk a truncation each time).
  RuntimeFile file{};
  if (v3FileOpen(&file, "unitinfo.txt", V3_FILE_READ, V3_LOCK_NONE) == 0) {
    std::string current(text.size() + 1, '\0');
    u64 got = 0;
    const bool same = v3FileRead(current.data(), &got, &file, current.size()) == 0 && got == text.size() &&
                      current.compare(0, got, text) == 0;
    v3FileClose(&file);
    if (same) return;
  }
  if (v3FileOpen(&file, "unitinfo.txt", V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE, V3_LOCK_NONE) != 0) return;
  u64 written = 0;
  (void)v3FileWrite(&file, &written, text.data(), text.size());
  v3FileClose(&file);
}
