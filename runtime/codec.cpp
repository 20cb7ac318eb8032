// The stream interface around a codec's init/update/end triple.
#include "runtime/codec.h"

namespace {

// Releases the lock held by the current call and destroys it: the stream is over.
void Finish(CodecStream* s) {
  v3MutexUnlock(&s->lock);
  v3MutexDestroy(&s->lock);
}

}  // namespace

int v3DecompressInit(ByteBuffer* out, CodecStream* s, CodecInit encodeInit, CodecUpdate encodeUpdate,
                     CodecEnd encodeEnd, CodecInit decodeInit, CodecUpdate decodeUpdate, CodecEnd decodeEnd,
                     u32 mode, s32 parameter, void* parameterBlock) {
  if (out == nullptr || s == nullptr || encodeInit == nullptr || encodeUpdate == nullptr || encodeEnd == nullptr ||
      decodeInit == nullptr || decodeUpdate == nullptr || decodeEnd == nullptr ||
      (mode != V3_CODEC_ENCODE && mode != V3_CODEC_DECODE)) {
    return -1;
  }
  (void)v3MutexLock(&s->lock, V3_MUTEX_WAIT);
  if (s->state != nullptr) {
    v3MutexUnlock(&s->lock);
    return -2;
  }
  const int buffer = v3BufferInit(out, 4096, V3_BUFFER_FIFO, 4096, nullptr, 0);
  if (buffer != 0 && buffer != -2) {
    Finish(s);
    return -3;
  }
  const int rc = (mode == V3_CODEC_ENCODE ? encodeInit : decodeInit)(s, parameter, parameterBlock);
  if (rc != 0) {
    v3BufferFree(out);
    Finish(s);
    return rc;
  }
  s->status = V3_STREAM_STARTED;
  s->parameter = parameter;
  s->mode = mode;
  s->encodeInit = encodeInit;
  s->encodeUpdate = encodeUpdate;
  s->encodeEnd = encodeEnd;
  s->decodeInit = decodeInit;
  s->decodeUpdate = decodeUpdate;
  s->decodeEnd = decodeEnd;
  v3MutexUnlock(&s->lock);
  return 0;
}

int v3Decompress(ByteBuffer* out, CodecStream* s, const void* data, u64 length) {
  if (out == nullptr || s == nullptr || data == nullptr) return -1;
  (void)v3MutexLock(&s->lock, V3_MUTEX_WAIT);
  int rc = -2;
  if ((s->status == V3_STREAM_STARTED || s->status == V3_STREAM_IN_USE) && s->state != nullptr) {
    rc = (s->mode == V3_CODEC_ENCODE ? s->encodeUpdate : s->decodeUpdate)(out, s, static_cast<const u8*>(data),
                                                                           length);
    s->status = rc != 0 ? V3_STREAM_FAILED : V3_STREAM_IN_USE;
  }
  v3MutexUnlock(&s->lock);
  return rc;
}

int v3DecompressEnd(ByteBuffer* out, CodecStream* s) {
  if (out == nullptr || s == nullptr) return -1;
  (void)v3MutexLock(&s->lock, V3_MUTEX_WAIT);
  CodecEnd end = s->mode == V3_CODEC_ENCODE ? s->encodeEnd : s->decodeEnd;
  if (s->status == V3_STREAM_FAILED) {
    if (s->state != nullptr && end != nullptr) (void)end(out, s);
  } else if ((s->status != V3_STREAM_STARTED && s->status != V3_STREAM_IN_USE) || s->state == nullptr) {
    s->status = V3_STREAM_FAILED;
    v3MutexUnlock(&s->lock);
    return -2;
  } else {
    const int rc = end(out, s);
    if (rc != 0) {
      s->status = V3_STREAM_FAILED;
      v3MutexUnlock(&s->lock);
      return rc;
    }
  }
  s->status = V3_STREAM_ENDED;
  s->state = nullptr;  // the end operation released it (codec ends release their state on every path)
  Finish(s);
  return 0;
}
