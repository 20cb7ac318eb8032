// The base64 codec of RFC 4648 (standard alphabet, "=" padding, no line breaks).
#include <cstring>

#include "runtime/codec.h"
#include "runtime/memory.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr u32 kBlock = 57;  // 19 groups of 3 bytes: 76 characters per encoded block

struct Base64State {  // 88 bytes of normal memory
  u64 pending;
  u8 block[kBlock];
  u32 accumulator;
  u32 characters;
  u32 padding;
};
static_assert(sizeof(Base64State) <= 88);

// Encodes length bytes (a multiple of 3, or the final 1 or 2) and appends the characters.
int EncodeGroups(ByteBuffer* out, const u8* bytes, u64 length) {
  char text[80];
  u64 used = 0;
  for (u64 i = 0; i < length; i += 3) {
    const u64 left = length - i;
    const u32 group = u32{bytes[i]} << 16 | (left > 1 ? u32{bytes[i + 1]} << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
    text[used++] = kAlphabet[group >> 18 & 63];
    text[used++] = kAlphabet[group >> 12 & 63];
    text[used++] = left > 1 ? kAlphabet[group >> 6 & 63] : '=';
    text[used++] = left > 2 ? kAlphabet[group & 63] : '=';
  }
  return v3BufferWrite(out, text, used) == 0 ? 0 : -3;
}

int NewState(CodecStream* s, int noMemory) {
  s->state = v3MemAlloc(88, V3_MEM_NORMAL);
  return s->state != nullptr ? 0 : noMemory;
}

int Value(u8 c) {
  const char* at = c != 0 && c < 128 ? std::strchr(kAlphabet, c) : nullptr;
  return at != nullptr ? static_cast<int>(at - kAlphabet) : -1;
}

}  // namespace

int v3Base64EncodeInit(CodecStream* s, s32, void*) { return NewState(s, -3); }

int v3Base64EncodeUpdate(ByteBuffer* out, CodecStream* s, const u8* data, u64 length) {
  auto* state = static_cast<Base64State*>(s->state);
  while (state->pending + length >= kBlock) {
    const u64 take = kBlock - state->pending;
    std::memcpy(state->block + state->pending, data, take);
    data += take;
    length -= take;
    state->pending = 0;
    if (EncodeGroups(out, state->block, kBlock) != 0) return -3;
  }
  std::memcpy(state->block + state->pending, data, length);
  state->pending += length;
  return 0;
}

int v3Base64EncodeEnd(ByteBuffer* out, CodecStream* s) {
  auto* state = static_cast<Base64State*>(s->state);
  const int rc = state->pending > 0 ? EncodeGroups(out, state->block, state->pending) : 0;
  v3MemFree(s->state);
  s->state = nullptr;
  return rc;
}

int v3Base64DecodeInit(CodecStream* s, s32, void*) { return NewState(s, -2); }

int v3Base64DecodeUpdate(ByteBuffer* out, CodecStream* s, const u8* data, u64 length) {
  auto* state = static_cast<Base64State*>(s->state);
  for (u64 i = 0; i < length; ++i) {
    const u8 c = data[i];
    int value;
    if (c == '=') {
      value = 0;
      ++state->padding;
    } else {
      value = Value(c);
      if (value < 0) continue;  // outside the alphabet: skipped
    }
    state->accumulator = state->accumulator << 6 | static_cast<u32>(value);
    if (++state->characters == 4) {
      const u8 bytes[3] = {static_cast<u8>(state->accumulator >> 16), static_cast<u8>(state->accumulator >> 8),
                           static_cast<u8>(state->accumulator)};
      const u32 keep = state->padding >= 3 ? 0 : 3 - state->padding;
      if (v3BufferWrite(out, bytes, keep) != 0) return -3;
      state->accumulator = state->characters = state->padding = 0;
    }
  }
  return 0;
}

int v3Base64DecodeEnd(ByteBuffer*, CodecStream* s) {
  const auto* state = static_cast<const Base64State*>(s->state);
  const int rc = state->characters != 0 ? -4 : 0;
  v3MemFree(s->state);
  s->state = nullptr;
  return rc;
}
