// Byte-order conversion through byte copies, so that unaligned and in-place use are both safe.
#include "runtime/byte_order.h"

#include <cstring>

namespace {

// Copies width bytes, reversed unless the host is big-endian.
void Convert(void* destination, const void* source, size_t width) {
  if (destination == nullptr || source == nullptr) return;
  unsigned char bytes[8];
  std::memcpy(bytes, source, width);
  if (!v3HostIsBigEndian()) {
    for (size_t i = 0; i < width / 2; ++i) {
      const unsigned char t = bytes[i];
      bytes[i] = bytes[width - 1 - i];
      bytes[width - 1 - i] = t;
    }
  }
  std::memcpy(destination, bytes, width);
}

}  // namespace

bool v3HostIsBigEndian() {
  u32 probe;
  std::memcpy(&probe, "ABCD", 4);
  return probe == 0x41424344;
}

void v3LoadBE16(u16* destination, const void* source) {
  if (destination == nullptr || source == nullptr) return;
  const auto* b = static_cast<const unsigned char*>(source);
  const u16 value = static_cast<u16>(b[0] << 8 | b[1]);
  *destination = value;
}

void v3StoreBE16(void* destination, const u16* source) {
  if (destination == nullptr || source == nullptr) return;
  const u16 value = *source;
  auto* b = static_cast<unsigned char*>(destination);
  b[0] = static_cast<unsigned char>(value >> 8);
  b[1] = static_cast<unsigned char>(value);
}

void v3LoadBE32(u32* destination, const void* source) { Convert(destination, source, 4); }
void v3StoreBE32(void* destination, const u32* source) { Convert(destination, source, 4); }
void v3LoadBE64(u64* destination, const void* source) { Convert(destination, source, 8); }
void v3StoreBE64(void* destination, const u64* source) { Convert(destination, source, 8); }
