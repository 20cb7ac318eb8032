// The byte buffer: one block, bytes kept between a read and a write position.
#include "runtime/byte_buffer.h"

#include <cstdint>
#include <cstring>

#include "runtime/memory.h"

namespace {

// Moves the held bytes to the start of the storage.
void Compact(ByteBuffer* b) {
  if (b->readPosition == 0) return;
  std::memmove(b->storage, b->storage + b->readPosition, b->held);
  b->readPosition = 0;
  b->writePosition = b->held;
}

}  // namespace

int v3BufferInit(ByteBuffer* b, u64 initialSize, u32 mode, u64 growthStep, const void* data, u64 length) {
  if (b == nullptr) return -4;
  if (b->mode != 0) return -2;
  if (mode != V3_BUFFER_FIFO && mode != V3_BUFFER_STACK) return -3;
  auto* storage = static_cast<u8*>(v3MemAlloc(initialSize, V3_MEM_NORMAL));
  if (storage == nullptr) return -1;
  *b = ByteBuffer{0, initialSize, growthStep, 0, 0, storage, mode, 0};
  return data != nullptr ? v3BufferWrite(b, data, length) : 0;
}

int v3BufferWrite(ByteBuffer* b, const void* data, u64 length) {
  if (b == nullptr || b->mode == 0) return -4;
  if (length == 0) return 0;
  if (data == nullptr) return -4;
  if (b->limit != 0 && (b->held >= b->limit || length > b->limit - b->held)) return -2;
  if (length > b->capacity - b->held) {
    if (b->growthStep == 0) return -2;
    const u64 shortfall = length - (b->capacity - b->held);
    const u64 steps = shortfall / b->growthStep + (shortfall % b->growthStep != 0);
    if (steps > (UINT64_MAX - b->capacity) / b->growthStep) return -1;
    u64 capacity = b->capacity + steps * b->growthStep;
    if (b->limit != 0 && capacity > b->limit) capacity = b->limit;
    Compact(b);
    auto* grown = static_cast<u8*>(v3MemRealloc(b->storage, capacity, V3_MEM_NORMAL));
    if (grown == nullptr) return -1;
    b->storage = grown;
    b->capacity = capacity;
  }
  if (length > b->capacity - b->writePosition) Compact(b);
  std::memcpy(b->storage + b->writePosition, data, length);
  b->writePosition += length;
  b->held += length;
  return 0;
}

int v3BufferSetLimit(ByteBuffer* b, u64 limit) {
  if (b == nullptr || b->mode == 0) return -4;
  b->limit = limit;
  return 0;
}

u64 v3BufferLength(const ByteBuffer* b) { return b != nullptr ? b->held : 0; }

u64 v3BufferRead(void* destination, u64 count, ByteBuffer* b) {
  if (b == nullptr || b->mode == 0 || destination == nullptr) return 0;
  const u64 moved = count < b->held ? count : b->held;
  if (b->mode == V3_BUFFER_FIFO) {
    std::memcpy(destination, b->storage + b->readPosition, moved);
    b->readPosition += moved;
  } else {
    std::memcpy(destination, b->storage + b->writePosition - moved, moved);
    b->writePosition -= moved;
  }
  b->held -= moved;
  if (b->held == 0) b->readPosition = b->writePosition = 0;
  return moved;
}

const u8* v3BufferData(ByteBuffer* b) {
  if (b == nullptr || b->mode == 0 || b->held == 0) return nullptr;
  Compact(b);
  return b->storage;
}

void v3BufferFree(ByteBuffer* b) {
  if (b == nullptr) return;
  v3MemFree(b->storage);
  *b = ByteBuffer{};
}
