// CRC-32 of IEEE 802.3: reflected polynomial 0xEDB88320, one table step per byte.
#include <cstring>

#include "runtime/hash.h"

namespace {

struct CrcTable {
  u32 entries[256];
  constexpr CrcTable() : entries() {
    for (u32 n = 0; n < 256; ++n) {
      u32 c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
  }
};
constexpr CrcTable kTable;

}  // namespace

int v3Crc32Init(HashContext* c) {
  auto* crc = static_cast<u32*>(v3HashStartState(c, sizeof(u32)));
  if (crc == nullptr) return -3;
  *crc = 0xFFFFFFFFu;
  return 0;
}

int v3Crc32Update(HashContext* c, const u8* data, u64 length) {
  auto* crc = static_cast<u32*>(c->state);
  u32 value = *crc;
  for (u64 i = 0; i < length; ++i) value = kTable.entries[(value ^ data[i]) & 0xFF] ^ (value >> 8);
  *crc = value;
  return 0;
}

int v3Crc32Final(u8 digest[V3_DIGEST_SIZE], HashContext* c) {
  auto* crc = static_cast<u32*>(c->state);
  const u32 value = ~*crc;
  std::memset(digest, 0, V3_DIGEST_SIZE);
  for (int i = 0; i < 4; ++i) digest[i] = static_cast<u8>(value >> (24 - 8 * i));
  v3HashRelease(crc, sizeof(u32));
  c->state = nullptr;
  return 0;
}
