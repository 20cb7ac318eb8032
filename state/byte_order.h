// Little-endian loads and stores at explicit offsets, for the state files' record images.
#pragma once

#include "runtime/types.h"

inline u32 LoadLE32(const u8* p) { return u32{p[0]} | u32{p[1]} << 8 | u32{p[2]} << 16 | u32{p[3]} << 24; }
inline u64 LoadLE64(const u8* p) { return u64{LoadLE32(p)} | u64{LoadLE32(p + 4)} << 32; }
inline void StoreLE32(u8* p, u32 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
  p[2] = static_cast<u8>(v >> 16);
  p[3] = static_cast<u8>(v >> 24);
}
inline void StoreLE64(u8* p, u64 v) {
  StoreLE32(p, static_cast<u32>(v));
  StoreLE32(p + 4, static_cast<u32>(v >> 32));
}
