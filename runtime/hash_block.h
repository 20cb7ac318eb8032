// What MD5 and SHA-1 share: buffering input into 64-byte blocks, and the final padding with the bit count.
#pragma once

#include <cstring>

#include "runtime/types.h"

// A 64-byte block hash's state: the partial block, the chaining values, the bytes absorbed.
template <int Words>
struct BlockHashState {
  u8 block[64];
  u32 h[Words];
  u64 count;
};

// Absorbs length bytes, compressing every block as soon as it is whole: compress(h, data, blockCount).
template <int Words, typename Compress>
void AbsorbBlocks(BlockHashState<Words>* s, const u8* data, u64 length, Compress compress) {
  const u64 used = s->count % 64;
  s->count += length;
  if (used > 0) {
    const u64 take = length < 64 - used ? length : 64 - used;
    std::memcpy(s->block + used, data, take);
    data += take;
    length -= take;
    if (used + take < 64) return;
    compress(s->h, s->block, 1);
  }
  compress(s->h, data, length / 64);
  std::memcpy(s->block, data + length / 64 * 64, length % 64);
}

// The padding: 0x80, zeros to 56 mod 64, then the bit count (big- or little-endian). Returns its length.
template <int Words>
u64 FinalPadding(const BlockHashState<Words>* s, u8 padding[72], bool bigEndianCount) {
  std::memset(padding, 0, 72);
  padding[0] = 0x80;
  const u64 bits = s->count * 8;
  const u64 used = s->count % 64;
  const u64 padLength = (used < 56 ? 56 : 120) - used;
  for (int i = 0; i < 8; ++i) {
    padding[padLength + i] = static_cast<u8>(bits >> (bigEndianCount ? 56 - 8 * i : 8 * i));
  }
  return padLength + 8;
}
