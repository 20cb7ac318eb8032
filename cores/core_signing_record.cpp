// The per-core record of accepted signing times and its file.
#include "cores/core_signing_record.h"

#include "runtime/file.h"
#include "runtime/file_replace.h"
#include "state/byte_order.h"

namespace {

// The core's entry, or null; for a record and a read-only record alike.
template <typename Record>
auto Find(Record* record, u32 coreNumber) -> decltype(&record->entries[0]) {
  for (u32 i = 0; i < record->count; ++i) {
    if (record->entries[i].coreNumber == coreNumber) return &record->entries[i];
  }
  return nullptr;
}

}  // namespace

int DecodeSigningRecord(const u8* image, u64 size, CoreSigningRecord* record) {
  record->count = 0;
  if (image == nullptr || size < kSigningEntriesAt || LoadLE32(image + kSigningMagicAt) != kSigningRecordMagic) {
    return -1;
  }
  const u32 count = LoadLE32(image + kSigningCountAt);
  if (count > kSigningEntriesMax || size != kSigningEntriesAt + u64{count} * kSigningEntrySize) return -1;
  for (u32 i = 0; i < count; ++i) {
    const u8* at = image + kSigningEntriesAt + u64{i} * kSigningEntrySize;
    (void)NoteSigningTime(record, LoadLE32(at + kSigningEntryCoreAt),
                          static_cast<s64>(LoadLE64(at + kSigningEntryTimeAt)));
  }
  return 0;
}

u64 EncodeSigningRecord(const CoreSigningRecord* record, u8* out) {
  StoreLE32(out + kSigningMagicAt, kSigningRecordMagic);
  StoreLE32(out + kSigningCountAt, record->count);
  for (u32 i = 0; i < record->count; ++i) {
    u8* at = out + kSigningEntriesAt + u64{i} * kSigningEntrySize;
    StoreLE32(at + kSigningEntryCoreAt, record->entries[i].coreNumber);
    StoreLE64(at + kSigningEntryTimeAt, static_cast<u64>(record->entries[i].signedAt));
  }
  return kSigningEntriesAt + u64{record->count} * kSigningEntrySize;
}

int LoadSigningRecord(CoreSigningRecord* record) {
  record->count = 0;
  RuntimeFile file{};
  const int opened = v3FileOpen(&file, kSigningRecordFileName, V3_FILE_READ, V3_LOCK_NONE);
  if (opened == V3_FILE_ENOENT) return 1;
  if (opened != 0) return -1;
  static thread_local u8 image[kSigningImageMax + 1];
  u64 size = 0;
  const int read = v3FileRead(image, &size, &file, sizeof image);
  v3FileClose(&file);
  return read == 0 ? DecodeSigningRecord(image, size, record) : -1;
}

int SaveSigningRecord(const CoreSigningRecord* record) {
  static thread_local u8 image[kSigningImageMax];
  const u64 size = EncodeSigningRecord(record, image);
  return v3FileReplace(kSigningRecordFileName, image, size) == 0 ? 0 : -1;
}

bool AcceptedSigningTime(const CoreSigningRecord* record, u32 coreNumber, s64* signedAt) {
  const CoreSigningEntry* entry = Find(record, coreNumber);
  if (entry != nullptr) *signedAt = entry->signedAt;
  return entry != nullptr;
}

bool NoteSigningTime(CoreSigningRecord* record, u32 coreNumber, s64 signedAt) {
  if (CoreSigningEntry* entry = Find(record, coreNumber)) {
    if (signedAt <= entry->signedAt) return false;
    entry->signedAt = signedAt;
    return true;
  }
  if (record->count < kSigningEntriesMax) {
    record->entries[record->count++] = CoreSigningEntry{coreNumber, signedAt};
    return true;
  }
  CoreSigningEntry* oldest = &record->entries[0];
  for (u32 i = 1; i < record->count; ++i) {
    if (record->entries[i].signedAt < oldest->signedAt) oldest = &record->entries[i];
  }
  *oldest = CoreSigningEntry{coreNumber, signedAt};
  return true;
}
