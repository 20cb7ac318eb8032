// Loading, converting and saving the queue file.
#include "state/work_queue.h"

#include <atomic>
#include <cstring>

#include "base/log.h"
#include "runtime/file.h"
#include "runtime/file_replace.h"
#include "runtime/memory.h"
#include "runtime/process.h"
#include "state/byte_order.h"
#include "state/queue_lock.h"

WorkQueue g_workQueue;

namespace {

std::atomic<void (*)()> g_queueSaved{nullptr};

// Reads up to kQueueImageSize bytes of the file; the rest of the image stays zero. The count read, or -1.
s64 ReadImage(u8 image[kQueueImageSize]) {
  std::memset(image, 0, kQueueImageSize);
  RuntimeFile file{};
  if (v3FileOpen(&file, kQueueFileName, V3_FILE_READ, V3_LOCK_NONE) != 0) return -1;
  u64 got = 0;
  const int rc = v3FileRead(image, &got, &file, kQueueImageSize);
  v3FileClose(&file);
  return rc == 0 ? static_cast<s64>(got) : -1;
}

// The layout without a version word: current index, then ten entries, all shifted back by four bytes.
void ConvertOldestLayout(const u8* old, u8* image) {
  StoreLE32(image + kQueueVersionAt, kQueueVersion);
  std::memcpy(image + kQueueIndexAt, old, 4);
  for (u32 s = 0; s < kQueueSlots; ++s) {
    const u8* entry = old + 4 + s * kEntryImageSize;
    const u32 state = LoadLE32(entry + kEntryStateAt);
    if (state == SLOT_READY || state == SLOT_DONE) {
      std::memcpy(image + kQueueSlotsAt + s * kEntryImageSize, entry, kEntryImageSize);
    }
  }
}

// Versions that kept the work server's address at entry offset 36 and had no port.
void ConvertServerAddressLayout(const u8* old, u8* image) {
  std::memcpy(image, old, kQueueImageSize);
  StoreLE32(image + kQueueVersionAt, kQueueVersion);
  for (u32 s = 0; s < kQueueSlots; ++s) {
    u8* entry = image + kQueueSlotsAt + s * kEntryImageSize;
    u8* address = entry + kEntryAssignmentAt + kAssignServerAddressAt;
    u8* port = entry + kEntryAssignmentAt + kAssignServerPortAt;
    if (LoadLE32(address) == 0) std::memcpy(address, entry + kEntryDeadlineKnownAt, 4);
    if (LoadLE32(port) == 0) StoreLE32(port, 8080);
  }
}

// Versions with 684-byte entries, before deadlines were kept.
void ConvertShortEntryLayout(const u8* old, u8* image) {
  std::memcpy(image, old, 8);
  StoreLE32(image + kQueueVersionAt, kQueueVersion);
  constexpr u64 kOldEntrySize = 684;
  for (u32 s = 0; s < kQueueSlots; ++s) {
    u8* entry = image + kQueueSlotsAt + s * kEntryImageSize;
    std::memcpy(entry, old + 8 + s * kOldEntrySize, kOldEntrySize);
    StoreLE32(entry + kEntryDeadlineKnownAt, 0);
  }
}

}  // namespace

int ConvertOldQueue(WorkQueue* queue, const u8* old) {
  const u32 version = LoadLE32(old);
  u8 image[kQueueImageSize] = {};
  if (version <= 9) {
    ConvertOldestLayout(old, image);
  } else if (version >= 215 && version <= 299) {
    LOG_AT(3, "Queue v%.02f detected... converting\n", version / 100.0);
    ConvertServerAddressLayout(old, image);
  } else {
    LOG_AT(3, "Queue v%.02f detected... converting\n", version / 100.0);
    ConvertShortEntryLayout(old, image);
  }
  DecodeQueue(image, queue);
  return SaveQueue(queue);
}

int LoadQueue(WorkQueue* queue) {
  // 7 KiB on the heap: the send thread reads a private copy and its stack is meant to be small.
  auto* image = static_cast<u8*>(v3MemAlloc(kQueueImageSize, V3_MEM_NORMAL));
  if (image == nullptr) return -1;
  int rc = ReadImage(image) >= 4 ? 0 : -1;
  if (rc == 0 && LoadLE32(image) > 323) {
    v3Sleep(150);
    DecodeQueue(image, queue);
  } else if (rc == 0) {
    LOG_AT(3, "Old queue version detected... converting\n");
    rc = ConvertOldQueue(queue, image);
  }
  v3MemFree(image);
  // Nothing runs yet: a unit stored ACTIVE (by an older client) is simply ready to run again.
  for (QueueEntry& entry : queue->slots) {
    if (rc == 0 && entry.state == SLOT_ACTIVE) entry.state = SLOT_READY;
  }
  if (rc == 0) LOG_AT(3, "Loaded queue successfully.\n");
  return rc;
}

int SaveQueue(WorkQueue* queue) {
  QueueGuard guard;
  u8 image[kQueueImageSize];
  EncodeQueue(*queue, image);
  // A running unit is stored READY, so a restart runs it again; in memory it stays ACTIVE, so the send
  // thread's saves and deadline sweep leave the running unit alone.
  for (u32 s = 0; s < kQueueSlots; ++s) {
    u8* state = image + kQueueSlotsAt + s * kEntryImageSize + kEntryStateAt;
    if (LoadLE32(state) == SLOT_ACTIVE) StoreLE32(state, SLOT_READY);
  }
  if (v3FileReplace(kQueueFileName, image, kQueueImageSize) != 0) return -1;
  if (void (*hook)() = g_queueSaved.load()) hook();
  return 0;
}

void SetQueueSavedHook(void (*hook)()) { g_queueSaved = hook; }

void CreateQueue(WorkQueue* queue) {
  LOG_AT(3, "Could not open work queue, generating new queue...\n");
  std::memset(static_cast<void*>(queue), 0, sizeof *queue);
  queue->version = kQueueVersion;
  if (SaveQueue(queue) != 0) {
    LOG_AT(6, "Fatal: Could not save work queue to disk\n");
    v3ProcessExit(-1);
  }
}

void PurgeUnknownSlots(WorkQueue* queue, int (*cleanUpUnit)(u32 slot)) {
  for (u32 slot = 0; slot < kQueueSlots; ++slot) {
    if (queue->slots[slot].state > SLOT_FETCHING) {
      LOG_AT(3, "Deleting unknown item (%u) from queue position #%u\n", queue->slots[slot].state, slot);
      (void)cleanUpUnit(slot);
    }
  }
}
