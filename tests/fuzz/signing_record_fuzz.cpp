// Fuzz entry: the loader of coresigned.dat, the per-core record of accepted signing times. Whatever the
// bytes, a decoded record holds at most its capacity, one entry per core number, and encodes back to an
// image that decodes to the same record.
#include <cstdlib>
#include <cstring>

#include "cores/core_signing_record.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  static CoreSigningRecord record;
  static CoreSigningRecord again;
  static u8 image[kSigningImageMax];
  if (DecodeSigningRecord(data, size, &record) != 0) {
    if (record.count != 0) std::abort();
    return 0;
  }
  if (record.count > kSigningEntriesMax) std::abort();
  for (u32 i = 0; i < record.count; ++i) {
    for (u32 j = i + 1; j < record.count; ++j) {
      if (record.entries[i].coreNumber == record.entries[j].coreNumber) std::abort();
    }
  }
  const u64 length = EncodeSigningRecord(&record, image);
  if (DecodeSigningRecord(image, length, &again) != 0 || again.count != record.count ||
      std::memcmp(again.entries, record.entries, sizeof(CoreSigningEntry) * record.count) != 0) {
    std::abort();
  }
  return 0;
}
