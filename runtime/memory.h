// Runtime memory blocks: zero-filled, sizes rounded up to 16 bytes, owned by the allocator's caller.
// Thread-safe. Only normal memory exists on this platform; secure memory is refused.
#pragma once

#include "runtime/types.h"

inline constexpr u32 V3_MEM_NORMAL = 41;
inline constexpr u32 V3_MEM_SECURE = 42;

// Returns a zero-filled block of size rounded up to 16, or null (size 0, kind not normal, no memory).
[[nodiscard]] void* v3MemAlloc(u64 size, u32 kind);
// Size 0 frees the block and returns null. Secure kind prints a refusal and returns null.
// Otherwise returns the resized (possibly moved) block, or null with the old block still valid.
[[nodiscard]] void* v3MemRealloc(void* block, u64 size, u32 kind);
// Null is ignored.
void v3MemFree(void* block);
// 0, or -1 on a null pointer.
[[nodiscard]] int v3MemSet(void* block, u64 length, u8 value);
// Overlap allowed. 0, or -1 on a null pointer.
[[nodiscard]] int v3MemCopy(void* dst, const void* src, u64 length);
// block + offset, or null when block is null or the sum wraps around.
[[nodiscard]] void* v3MemOffset(void* block, u64 offset);
