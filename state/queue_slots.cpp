// Clearing a slot and listing the queue.
#include "state/queue_slots.h"

#include <cstdio>
#include <string>

#include "base/log.h"
#include "state/queue_lock.h"
#include "state/work_queue.h"

namespace {

const char* StateName(u32 state, char* buffer, size_t capacity) {
  static const char* const kNames[] = {"EMPTY", "READY", "DONE", "ACTIVE", "FETCHING"};
  if (state <= SLOT_FETCHING) return kNames[state];
  std::snprintf(buffer, capacity, "UNKNOWN:%02u", state);
  return buffer;
}

void AppendDate(std::string* text, const char* format, v3Time time, bool seconds) {
  v3Date d{};
  if (v3TimeToDate(&d, time) != 0) d = v3Date{};
  char piece[96];
  if (seconds) {
    std::snprintf(piece, sizeof piece, format, MonthNames[d.month], d.day + 1, d.hour, d.minute, d.second);
  } else {
    std::snprintf(piece, sizeof piece, format, MonthNames[d.month], d.day + 1, d.hour, d.minute);
  }
  *text += piece;
}

}  // namespace

int ClearSlot(WorkQueue* queue, u32 slot) {
  if (slot >= kQueueSlots) return -1;
  QueueGuard guard;
  queue->slots[slot].state = SLOT_EMPTY;
  return SaveQueue(queue);
}

void PrintQueue(const WorkQueue* shared) {
  LOG_AT(3, "Printing Queue Information\n");
  WorkQueue copy;
  {
    QueueGuard guard;
    copy = *shared;
  }
  const WorkQueue* queue = &copy;
  std::string text = "CURRENT QUEUE: \n";
  for (u32 slot = 0; slot < kQueueSlots; ++slot) {
    const QueueEntry& e = queue->slots[slot];
    char piece[256];
    char unknown[24];
    std::snprintf(piece, sizeof piece, "%02d %c%-9s", static_cast<int>(slot), slot == queue->currentIndex ? '*' : ' ',
                  StateName(e.state, unknown, sizeof unknown));
    text += piece;
    if (e.state == SLOT_EMPTY || e.state == SLOT_FETCHING) {
      text += "\n";
      continue;
    }
    char coreName[kAssignCoreNameSize + 1];
    EntryCoreName(e, coreName);
    const u32 address = EntryServerAddress(e);
    std::snprintf(piece, sizeof piece, " \"%10s\" (%x) %u.%u.%u.%u:%u  ", coreName, EntryCoreNumber(e), address >> 24,
                  (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF, EntryServerPort(e));
    text += piece;
    AppendDate(&text, "%s %u %02u:%02u:%02u", e.received, true);
    if ((e.state == SLOT_READY || e.state == SLOT_ACTIVE) && EntryDeadlineKnown(e)) {
      AppendDate(&text, " | %s %u %02u:%02u\n", e.deadline, false);
    } else if (e.state == SLOT_DONE) {
      AppendDate(&text, "->%s %u %02u:%02u:%02u\n", e.completed, true);
    } else {
      text += "\n";
    }
  }
  LogWrite("%s", text.c_str());
}
