// The newest signing time accepted per core number, kept in "coresigned.dat" beside the cores, so that an
// older bundle, however validly signed, can never replace or reinstall a core the client has moved past.
// The file outlives the cores themselves (a core deleted when it goes out of date keeps its entry) and is
// replaced whole, as queue.dat is. Its image, little-endian like the client's other binary files:
//   0  u32  magic 0x53435651 (the bytes "QVCS")
//   4  u32  entry count N (at most kSigningEntriesMax)
//   8  N entries of 12 bytes: u32 core number, then s64 signing time (seconds since 2000-01-01 UTC)
// Nothing here logs.
#pragma once

#include "runtime/types.h"

inline constexpr const char* kSigningRecordFileName = "coresigned.dat";
inline constexpr u32 kSigningRecordMagic = 0x53435651;
inline constexpr u64 kSigningMagicAt = 0;
inline constexpr u64 kSigningCountAt = 4;
inline constexpr u64 kSigningEntriesAt = 8;
inline constexpr u64 kSigningEntrySize = 12;
inline constexpr u64 kSigningEntryCoreAt = 0;
inline constexpr u64 kSigningEntryTimeAt = 4;
static_assert(kSigningEntryTimeAt + 8 == kSigningEntrySize);
static_assert(kSigningCountAt + 4 == kSigningEntriesAt);
// Far more core numbers than a project ever publishes; when full, the entry signed longest ago gives way.
inline constexpr u32 kSigningEntriesMax = 1024;
inline constexpr u64 kSigningImageMax = kSigningEntriesAt + kSigningEntriesMax * kSigningEntrySize;

struct CoreSigningEntry {
  u32 coreNumber;
  s64 signedAt;
};

struct CoreSigningRecord {  // zero it for an empty record
  u32 count;
  CoreSigningEntry entries[kSigningEntriesMax];
};

// Reads an image: 0, or -1 when it is not a whole record (wrong magic, count or size); the record is then
// empty. A core number met twice keeps its newest time.
[[nodiscard]] int DecodeSigningRecord(const u8* image, u64 size, CoreSigningRecord* record);
// Writes the image into out (kSigningImageMax bytes at least) and returns its size.
u64 EncodeSigningRecord(const CoreSigningRecord* record, u8* out);
// Loads coresigned.dat: 0, 1 when there is none yet (empty record), -1 when it is unreadable or not a
// whole record (empty record).
[[nodiscard]] int LoadSigningRecord(CoreSigningRecord* record);
// Replaces coresigned.dat whole: 0 or -1.
[[nodiscard]] int SaveSigningRecord(const CoreSigningRecord* record);
// The newest signing time accepted for the core: true with *signedAt, false when none was.
[[nodiscard]] bool AcceptedSigningTime(const CoreSigningRecord* record, u32 coreNumber, s64* signedAt);
// Raises the core's accepted time to signedAt (never lowers it): true when the record changed.
bool NoteSigningTime(CoreSigningRecord* record, u32 coreNumber, s64 signedAt);
