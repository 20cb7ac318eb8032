// Fuzz entry: the response header reader and the chunk-size reader on arbitrary bytes from "the network".
#include <cstdint>
#include <cstring>

#include "runtime/http.h"

namespace {

struct Memory {
  const unsigned char* data;
  size_t size;
  size_t at;
};

int ReadMemory(void* context, u8* out, u64 count, u64* got, u32) {
  auto* m = static_cast<Memory*>(context);
  *got = 0;
  while (*got < count && m->at < m->size) out[(*got)++] = m->data[m->at++];
  return *got == count ? 0 : -7;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  Memory memory{data, size, 0};
  HttpByteSource source{ReadMemory, &memory};
  ByteBuffer header{};
  if (v3BufferInit(&header, 1024, V3_BUFFER_FIFO, 1024, nullptr, 0) != 0) return 0;
  HttpResponseHead head{};
  // Memory never waits: the limit only has to be long enough not to run out.
  constexpr u32 kLimit = 1u << 30;
  if (v3HttpReadHead(&source, &header, &head, kLimit) == 0 && head.framing == HTTP_CHUNKED) {
    u32 chunk = 0;
    while (v3HttpReadChunkSize(&source, &chunk, kLimit) == 0 && chunk != 0) {
      memory.at += chunk < memory.size - memory.at ? chunk : memory.size - memory.at;
    }
  }
  v3BufferFree(&header);
  return 0;
}
