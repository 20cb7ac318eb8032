// The work queue record and its 7016-byte image in "queue.dat": version, current index, ten 700-byte
// entries, performance fraction and sample count, all little-endian. The in-memory record is a plain
// struct; the image is built and read only at the explicit offsets below.
#pragma once

#include "runtime/time.h"
#include "runtime/types.h"

inline constexpr u32 kQueueVersion = 325;
inline constexpr u32 kQueueSlots = 10;
inline constexpr u64 kQueueImageSize = 7016;
inline constexpr u64 kEntryImageSize = 700;
inline constexpr u64 kWorkAssignmentSize = 512;
inline constexpr u64 kCoreLocationSize = 127;

// Image offsets of the queue record.
inline constexpr u64 kQueueVersionAt = 0;
inline constexpr u64 kQueueIndexAt = 4;
inline constexpr u64 kQueueSlotsAt = 8;
inline constexpr u64 kQueueFractionAt = 7008;
inline constexpr u64 kQueueSamplesAt = 7012;
static_assert(kQueueSlotsAt + kQueueSlots * kEntryImageSize == kQueueFractionAt);
static_assert(kQueueSamplesAt + 4 == kQueueImageSize);

// Image offsets within one entry.
inline constexpr u64 kEntryStateAt = 0;
inline constexpr u64 kEntryReceivedAt = 4;
inline constexpr u64 kEntryCompletedAt = 20;
inline constexpr u64 kEntryDeadlineKnownAt = 36;
inline constexpr u64 kEntryFinishedAt = 40;
inline constexpr u64 kEntryCoreLocationAt = 44;
inline constexpr u64 kEntryDownloadOptionAt = 171;
inline constexpr u64 kEntryAssignmentAt = 172;
inline constexpr u64 kEntryDeadlineAt = 684;
static_assert(kEntryCoreLocationAt + kCoreLocationSize == kEntryDownloadOptionAt);
static_assert(kEntryAssignmentAt + kWorkAssignmentSize == kEntryDeadlineAt);
static_assert(kEntryDeadlineAt + 16 == kEntryImageSize);

// Offsets inside the work-assignment header that the queue itself uses.
inline constexpr u64 kAssignPacketTypeAt = 0;
inline constexpr u64 kAssignCoreNumberAt = 4;
inline constexpr u64 kAssignPayloadSizeAt = 12;
inline constexpr u64 kAssignServerAddressAt = 88;
inline constexpr u64 kAssignServerPortAt = 92;
inline constexpr u64 kAssignCoreNameAt = 96;
inline constexpr u64 kAssignCoreNameSize = 64;
inline constexpr u64 kAssignDeadlineSecondsAt = 320;

enum SlotState : u32 { SLOT_EMPTY = 0, SLOT_READY = 1, SLOT_DONE = 2, SLOT_ACTIVE = 3, SLOT_FETCHING = 4 };

struct QueueEntry {
  u32 state;
  v3Time received;
  v3Time completed;
  u32 deadlineKnown;
  u32 finished;
  char coreLocation[kCoreLocationSize];
  u8 coreDownloadOption;
  u8 workAssignment[kWorkAssignmentSize];  // the work server's reply header, packet type replaced by 500
  v3Time deadline;
};

struct WorkQueue {
  u32 version;
  u32 currentIndex;
  QueueEntry slots[kQueueSlots];
  float performanceFraction;
  u32 performanceSamples;
};

// Fields of the work-assignment header (little-endian words at their header offsets).
[[nodiscard]] u32 EntryCoreNumber(const QueueEntry& entry);
[[nodiscard]] u32 EntryServerAddress(const QueueEntry& entry);
[[nodiscard]] u32 EntryServerPort(const QueueEntry& entry);
[[nodiscard]] s32 EntryDeadlineSeconds(const QueueEntry& entry);
// The deadline is known only when the word holds 1: after an older layout's conversion it may hold an old
// server address instead.
[[nodiscard]] inline bool EntryDeadlineKnown(const QueueEntry& entry) { return entry.deadlineKnown == 1; }
// Both entries describe the same unit (received at the same moment with the same header and core
// location), whatever state each is in.
[[nodiscard]] bool SameUnit(const QueueEntry& a, const QueueEntry& b);
// The core's display name, at most 64 characters, always terminated.
void EntryCoreName(const QueueEntry& entry, char out[kAssignCoreNameSize + 1]);
void SetEntryWord(QueueEntry* entry, u64 headerOffset, u32 value);

void EncodeQueue(const WorkQueue& queue, u8 image[kQueueImageSize]);
void DecodeQueue(const u8 image[kQueueImageSize], WorkQueue* queue);
