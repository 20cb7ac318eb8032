// Codec streams: bytes pass through a codec in one of two directions (encode 179, decode 199) with a
// begin/feed/end life cycle; everything the codec produces is appended to a byte buffer the caller owns
// and drains. Each call holds the stream's own lock. Codecs: bzip2 (both directions) and base64.
#pragma once

#include "runtime/byte_buffer.h"
#include "runtime/process.h"
#include "runtime/types.h"

inline constexpr u32 V3_CODEC_ENCODE = 179;
inline constexpr u32 V3_CODEC_DECODE = 199;

inline constexpr u32 V3_STREAM_STARTED = 42;
inline constexpr u32 V3_STREAM_IN_USE = 43;
inline constexpr u32 V3_STREAM_ENDED = 44;
inline constexpr u32 V3_STREAM_FAILED = 45;

struct CodecStream;
using CodecInit = int (*)(CodecStream* stream, s32 parameter, void* parameterBlock);
using CodecUpdate = int (*)(ByteBuffer* out, CodecStream* stream, const u8* data, u64 length);
using CodecEnd = int (*)(ByteBuffer* out, CodecStream* stream);

struct CodecStream {  // zero it before v3DecompressInit
  u32 status;
  s32 parameter;
  u32 mode;
  void* state;  // the codec's own, released by the end operation's caller
  CodecInit encodeInit;
  CodecUpdate encodeUpdate;
  CodecEnd encodeEnd;
  CodecInit decodeInit;
  CodecUpdate decodeUpdate;
  CodecEnd decodeEnd;
  v3Mutex lock;
};

// 0; -1 bad arguments or mode; -2 already started; -3 no memory for the buffer; or the codec init's code.
[[nodiscard]] int v3DecompressInit(ByteBuffer* out, CodecStream* stream, CodecInit encodeInit,
                                   CodecUpdate encodeUpdate, CodecEnd encodeEnd, CodecInit decodeInit,
                                   CodecUpdate decodeUpdate, CodecEnd decodeEnd, u32 mode, s32 parameter,
                                   void* parameterBlock);
// 0; -1 null arguments; -2 not started; or the codec's code (the stream is then failed).
[[nodiscard]] int v3Decompress(ByteBuffer* out, CodecStream* stream, const void* data, u64 length);
// 0 (also after an earlier failure, which this call cleans up); -1 null; -2 not started; or the codec's code.
[[nodiscard]] int v3DecompressEnd(ByteBuffer* out, CodecStream* stream);

// True when a bzip2 decoding stream has seen the end of its compressed stream (ask before the end call, which
// releases the state): input that stops short of that end is an incomplete stream.
[[nodiscard]] bool v3Bzip2DecodeComplete(const CodecStream* stream);

// The codec operations. Codec state is allocated by init and released by end.
int v3Bzip2EncodeInit(CodecStream* stream, s32 level, void* parameterBlock);
int v3Bzip2EncodeUpdate(ByteBuffer* out, CodecStream* stream, const u8* data, u64 length);
int v3Bzip2EncodeEnd(ByteBuffer* out, CodecStream* stream);
int v3Bzip2DecodeInit(CodecStream* stream, s32 parameter, void* parameterBlock);
int v3Bzip2DecodeUpdate(ByteBuffer* out, CodecStream* stream, const u8* data, u64 length);
int v3Bzip2DecodeEnd(ByteBuffer* out, CodecStream* stream);
int v3Base64EncodeInit(CodecStream* stream, s32 parameter, void* parameterBlock);
int v3Base64EncodeUpdate(ByteBuffer* out, CodecStream* stream, const u8* data, u64 length);
int v3Base64EncodeEnd(ByteBuffer* out, CodecStream* stream);
int v3Base64DecodeInit(CodecStream* stream, s32 parameter, void* parameterBlock);
int v3Base64DecodeUpdate(ByteBuffer* out, CodecStream* stream, const u8* data, u64 length);
int v3Base64DecodeEnd(ByteBuffer* out, CodecStream* stream);
