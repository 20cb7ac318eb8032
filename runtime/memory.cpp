// Memory blocks over the C library allocator.
#include "runtime/memory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Rounds up to the next multiple of 16; 0 when that would overflow.
u64 RoundedSize(u64 size) {
  if (size > UINT64_MAX - 15) return 0;
  return (size + 15) & ~u64{15};
}

}  // namespace

void* v3MemAlloc(u64 size, u32 kind) {
  if (kind != V3_MEM_NORMAL || size == 0) return nullptr;
  const u64 rounded = RoundedSize(size);
  if (rounded == 0 || rounded > SIZE_MAX) return nullptr;
  return std::calloc(1, static_cast<size_t>(rounded));
}

void* v3MemRealloc(void* block, u64 size, u32 kind) {
  if (size == 0 && block != nullptr) {
    std::free(block);
    return nullptr;
  }
  if (kind == V3_MEM_SECURE) {
    // The one message the runtime prints itself: a caller asking for secure memory must be told why it failed.
    std::fputs("Secure memory requested, but not available.\n", stdout);
    std::fflush(stdout);
    return nullptr;
  }
  if (kind != V3_MEM_NORMAL) return nullptr;
  if (block == nullptr) return v3MemAlloc(size, kind);
  const u64 rounded = RoundedSize(size);
  if (rounded == 0 || rounded > SIZE_MAX) return nullptr;
  return std::realloc(block, static_cast<size_t>(rounded));
}

void v3MemFree(void* block) { std::free(block); }

int v3MemSet(void* block, u64 length, u8 value) {
  if (block == nullptr) return -1;
  std::memset(block, value, static_cast<size_t>(length));
  return 0;
}

int v3MemCopy(void* dst, const void* src, u64 length) {
  if (dst == nullptr || src == nullptr) return -1;
  if (dst == src || length == 0) return 0;
  std::memmove(dst, src, static_cast<size_t>(length));
  return 0;
}

void* v3MemOffset(void* block, u64 offset) {
  if (block == nullptr) return nullptr;
  const auto base = reinterpret_cast<std::uintptr_t>(block);
  if (offset > UINTPTR_MAX - base) return nullptr;
  return reinterpret_cast<void*>(base + offset);
}
