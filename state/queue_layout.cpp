// The queue record's byte image.
#include "state/queue_layout.h"

#include <cstring>

#include "state/byte_order.h"

namespace {

void StoreTime(u8* p, v3Time t) {
  StoreLE64(p, static_cast<u64>(t.seconds));
  StoreLE64(p + 8, t.fraction);
}

v3Time LoadTime(const u8* p) { return v3Time{static_cast<s64>(LoadLE64(p)), LoadLE64(p + 8)}; }

void EncodeEntry(const QueueEntry& e, u8* p) {
  StoreLE32(p + kEntryStateAt, e.state);
  StoreTime(p + kEntryReceivedAt, e.received);
  StoreTime(p + kEntryCompletedAt, e.completed);
  StoreLE32(p + kEntryDeadlineKnownAt, e.deadlineKnown);
  StoreLE32(p + kEntryFinishedAt, e.finished);
  std::memcpy(p + kEntryCoreLocationAt, e.coreLocation, kCoreLocationSize);
  p[kEntryDownloadOptionAt] = e.coreDownloadOption;
  std::memcpy(p + kEntryAssignmentAt, e.workAssignment, kWorkAssignmentSize);
  StoreTime(p + kEntryDeadlineAt, e.deadline);
}

void DecodeEntry(const u8* p, QueueEntry* e) {
  e->state = LoadLE32(p + kEntryStateAt);
  e->received = LoadTime(p + kEntryReceivedAt);
  e->completed = LoadTime(p + kEntryCompletedAt);
  e->deadlineKnown = LoadLE32(p + kEntryDeadlineKnownAt);
  e->finished = LoadLE32(p + kEntryFinishedAt);
  std::memcpy(e->coreLocation, p + kEntryCoreLocationAt, kCoreLocationSize);
  e->coreDownloadOption = p[kEntryDownloadOptionAt];
  std::memcpy(e->workAssignment, p + kEntryAssignmentAt, kWorkAssignmentSize);
  e->deadline = LoadTime(p + kEntryDeadlineAt);
}

}  // namespace

bool SameUnit(const QueueEntry& a, const QueueEntry& b) {
  return v3TimeCompare(a.received, b.received) == 0 &&
         std::memcmp(a.workAssignment, b.workAssignment, kWorkAssignmentSize) == 0 &&
         std::memcmp(a.coreLocation, b.coreLocation, kCoreLocationSize) == 0;
}

u32 EntryCoreNumber(const QueueEntry& e) { return LoadLE32(e.workAssignment + kAssignCoreNumberAt); }
u32 EntryServerAddress(const QueueEntry& e) { return LoadLE32(e.workAssignment + kAssignServerAddressAt); }
u32 EntryServerPort(const QueueEntry& e) { return LoadLE32(e.workAssignment + kAssignServerPortAt); }
s32 EntryDeadlineSeconds(const QueueEntry& e) {
  return static_cast<s32>(LoadLE32(e.workAssignment + kAssignDeadlineSecondsAt));
}

void EntryCoreName(const QueueEntry& e, char out[kAssignCoreNameSize + 1]) {
  std::memcpy(out, e.workAssignment + kAssignCoreNameAt, kAssignCoreNameSize);
  out[kAssignCoreNameSize] = '\0';
}

void SetEntryWord(QueueEntry* e, u64 headerOffset, u32 value) { StoreLE32(e->workAssignment + headerOffset, value); }

void EncodeQueue(const WorkQueue& q, u8 image[kQueueImageSize]) {
  StoreLE32(image + kQueueVersionAt, q.version);
  StoreLE32(image + kQueueIndexAt, q.currentIndex);
  for (u32 s = 0; s < kQueueSlots; ++s) EncodeEntry(q.slots[s], image + kQueueSlotsAt + s * kEntryImageSize);
  u32 fractionBits;
  static_assert(sizeof fractionBits == sizeof q.performanceFraction);
  std::memcpy(&fractionBits, &q.performanceFraction, 4);
  StoreLE32(image + kQueueFractionAt, fractionBits);
  StoreLE32(image + kQueueSamplesAt, q.performanceSamples);
}

void DecodeQueue(const u8 image[kQueueImageSize], WorkQueue* q) {
  q->version = LoadLE32(image + kQueueVersionAt);
  q->currentIndex = LoadLE32(image + kQueueIndexAt);
  for (u32 s = 0; s < kQueueSlots; ++s) DecodeEntry(image + kQueueSlotsAt + s * kEntryImageSize, &q->slots[s]);
  const u32 fractionBits = LoadLE32(image + kQueueFractionAt);
  std::memcpy(&q->performanceFraction, &fractionBits, 4);
  q->performanceSamples = LoadLE32(image + kQueueSamplesAt);
}
