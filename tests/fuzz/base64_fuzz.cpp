// Fuzz entry: the base64 decoder on arbitrary text, fed in two pieces.
#include "runtime/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  ByteBuffer out{};
  CodecStream stream{};
  if (v3DecompressInit(&out, &stream, v3Base64EncodeInit, v3Base64EncodeUpdate, v3Base64EncodeEnd,
                       v3Base64DecodeInit, v3Base64DecodeUpdate, v3Base64DecodeEnd, V3_CODEC_DECODE, 0, nullptr) != 0) {
    return 0;
  }
  const size_t half = size / 2;
  (void)v3Decompress(&out, &stream, data, half);
  (void)v3Decompress(&out, &stream, data + half, size - half);
  (void)v3DecompressEnd(&out, &stream);
  v3BufferFree(&out);
  return 0;
}
