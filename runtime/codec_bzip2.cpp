// The bzip2 codec over libbz2's stream interface.
#include <bzlib.h>

#include <cstdlib>

#include "runtime/codec.h"
#include "runtime/memory.h"

namespace {

constexpr u64 kOutputArea = 65536;
constexpr u64 kInputPiece = 1073741824;

struct Bzip2State {
  bz_stream stream;
  bool streamEnded;  // decoding: input after the end of the compressed stream is ignored
};

void* Allocate(void*, int count, int size) {
  return v3MemAlloc(static_cast<u64>(count) * static_cast<u64>(size), V3_MEM_NORMAL);
}
void Release(void*, void* block) { v3MemFree(block); }

Bzip2State* NewState() {
  auto* state = static_cast<Bzip2State*>(v3MemAlloc(sizeof(Bzip2State), V3_MEM_NORMAL));
  if (state == nullptr) return nullptr;
  state->stream.bzalloc = Allocate;
  state->stream.bzfree = Release;
  state->stream.opaque = nullptr;
  return state;
}

// Runs the bzip2 step over the input in pieces, appending each step's output to the buffer.
int Run(ByteBuffer* out, CodecStream* s, const u8* data, u64 length, bool encoding) {
  auto* state = static_cast<Bzip2State*>(s->state);
  if (state->streamEnded) return 0;
  auto* area = static_cast<char*>(v3MemAlloc(kOutputArea, V3_MEM_NORMAL));
  if (area == nullptr) return -3;
  int rc = 0;
  while (length > 0 && rc == 0 && !state->streamEnded) {
    const u64 piece = length < kInputPiece ? length : kInputPiece;
    bz_stream& z = state->stream;
    z.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
    z.avail_in = static_cast<unsigned>(piece);
    // Steps run until the piece is consumed and a step leaves output room (no output still pending).
    do {
      z.next_out = area;
      z.avail_out = kOutputArea;
      const int step = encoding ? BZ2_bzCompress(&z, BZ_RUN) : BZ2_bzDecompress(&z);
      if (encoding ? step != BZ_RUN_OK : (step != BZ_OK && step != BZ_STREAM_END)) rc = -4;
      if (rc == 0 && v3BufferWrite(out, area, kOutputArea - z.avail_out) != 0) rc = -3;
      if (!encoding && step == BZ_STREAM_END) state->streamEnded = true;
    } while (rc == 0 && !state->streamEnded && (z.avail_in > 0 || z.avail_out == 0));
    data += piece;
    length -= piece;
  }
  v3MemFree(area);
  return rc;
}

void Drop(CodecStream* s) {
  v3MemFree(s->state);
  s->state = nullptr;
}

}  // namespace

bool v3Bzip2DecodeComplete(const CodecStream* s) {
  if (s == nullptr || s->state == nullptr || s->decodeUpdate != v3Bzip2DecodeUpdate || s->mode != V3_CODEC_DECODE) {
    return false;
  }
  return static_cast<const Bzip2State*>(s->state)->streamEnded;
}

int v3Bzip2EncodeInit(CodecStream* s, s32 level, void*) {
  if (level < 1 || level > 9) return -5;
  Bzip2State* state = NewState();
  if (state == nullptr) return -3;
  const int rc = BZ2_bzCompressInit(&state->stream, level, 0, 0);
  if (rc != BZ_OK) {
    v3MemFree(state);
    return rc == BZ_MEM_ERROR ? -3 : -4;
  }
  s->state = state;
  return 0;
}

int v3Bzip2EncodeUpdate(ByteBuffer* out, CodecStream* s, const u8* data, u64 length) {
  return Run(out, s, data, length, true);
}

int v3Bzip2EncodeEnd(ByteBuffer* out, CodecStream* s) {
  auto* state = static_cast<Bzip2State*>(s->state);
  auto* area = static_cast<char*>(v3MemAlloc(kOutputArea, V3_MEM_NORMAL));
  int rc = area == nullptr ? -3 : 0;
  for (int step = BZ_FINISH_OK; rc == 0 && step != BZ_STREAM_END;) {
    state->stream.next_in = nullptr;
    state->stream.avail_in = 0;
    state->stream.next_out = area;
    state->stream.avail_out = kOutputArea;
    step = BZ2_bzCompress(&state->stream, BZ_FINISH);
    if (step != BZ_FINISH_OK && step != BZ_STREAM_END) rc = -4;
    if (rc == 0 && v3BufferWrite(out, area, kOutputArea - state->stream.avail_out) != 0) rc = -3;
  }
  v3MemFree(area);
  if (BZ2_bzCompressEnd(&state->stream) != BZ_OK && rc == 0) rc = -4;
  Drop(s);
  return rc;
}

int v3Bzip2DecodeInit(CodecStream* s, s32, void*) {
  Bzip2State* state = NewState();
  if (state == nullptr) return -2;
  const int rc = BZ2_bzDecompressInit(&state->stream, 0, 0);
  if (rc != BZ_OK) {
    v3MemFree(state);
    return rc == BZ_MEM_ERROR ? -3 : -4;
  }
  s->state = state;
  return 0;
}

int v3Bzip2DecodeUpdate(ByteBuffer* out, CodecStream* s, const u8* data, u64 length) {
  return Run(out, s, data, length, false);
}

int v3Bzip2DecodeEnd(ByteBuffer*, CodecStream* s) {
  auto* state = static_cast<Bzip2State*>(s->state);
  const int rc = BZ2_bzDecompressEnd(&state->stream) == BZ_OK ? 0 : -4;
  Drop(s);
  return rc;
}
