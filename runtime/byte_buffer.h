// A growable byte store handed out first-in-first-out (mode 1) or newest-first (mode 2). It grows in steps
// set at set-up and refuses to grow when the step is 0, so every user bounds its memory. One owner at a time.
#pragma once

#include "runtime/types.h"

inline constexpr u32 V3_BUFFER_FIFO = 1;
inline constexpr u32 V3_BUFFER_STACK = 2;

struct ByteBuffer {  // zero it before set-up
  u64 held;
  u64 capacity;
  u64 growthStep;
  u64 writePosition;
  u64 readPosition;
  u8* storage;
  u32 mode;
  u64 limit;  // most bytes it may hold; 0: as many as the growth step reaches
};

// 0; -4 null buffer; -2 already set up; -3 bad mode; -1 no storage (size 0 included); or the write's code.
[[nodiscard]] int v3BufferInit(ByteBuffer* buffer, u64 initialSize, u32 mode, u64 growthStep, const void* data,
                               u64 length);
// Caps what the buffer may ever hold (and its storage) at limit bytes, 0 for no cap: a write that would pass
// it fails as a full buffer does, before anything grows. 0, or -4 when not set up.
[[nodiscard]] int v3BufferSetLimit(ByteBuffer* buffer, u64 limit);
// 0; -2 full (growth step 0, or the limit reached); -1 no larger storage (content unchanged).
// REQUIRES: set up.
[[nodiscard]] int v3BufferWrite(ByteBuffer* buffer, const void* data, u64 length);
[[nodiscard]] u64 v3BufferLength(const ByteBuffer* buffer);
// Moves up to count bytes out (oldest first in mode 1, the newest count in stored order in mode 2).
[[nodiscard]] u64 v3BufferRead(void* destination, u64 count, ByteBuffer* buffer);
// The bytes held, contiguous (the buffer is compacted first); null when empty or not set up.
[[nodiscard]] const u8* v3BufferData(ByteBuffer* buffer);
void v3BufferFree(ByteBuffer* buffer);
