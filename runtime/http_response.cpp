// Response parsing: the status line, the header lines and chunk sizes. Input comes from the network,
// so every limit is checked: the header's size, and numbers that must fit their fields.
#include <cstring>

#include "runtime/http.h"
#include "runtime/strings.h"
#include "runtime/time.h"

namespace {

// One byte within what is left of a limit that began at startMs: a peer that dribbles a byte just inside
// each wait still cannot stretch the whole read beyond the limit.
int ReadByte(HttpByteSource* source, u8* byte, u64 startMs, u32 limitMs) {
  const u32 left = v3MillisecondsLeft(startMs, limitMs);
  if (left == 0) return -1;
  u64 got = 0;
  const int rc = source->read(source->context, byte, 1, &got, left);
  return rc == 0 && got == 1 ? 0 : -1;
}

// The decimal number after name in the header text, when it is there and fits 32 bits: 1 found, 0 absent,
// -1 present but not a fitting number.
int FindLength(const char* text, u32* value) {
  const char* at = std::strstr(text, "Content-Length: ");
  if (at == nullptr) return 0;
  at += std::strlen("Content-Length: ");
  if (*at < '0' || *at > '9') return 0;
  return v3StrToNum(value, 4, 0, nullptr, at, 10) == 0 ? 1 : -1;
}

constexpr int kInterimResponsesMax = 8;

// One response header (an interim one included).
int ReadOneHead(HttpByteSource* source, ByteBuffer* header, HttpResponseHead* head, u64 startMs, u32 limitMs) {
  *head = HttpResponseHead{0, HTTP_LENGTH, 0, 0, false};
  static const char kUpper[] = "HTTP/1.1";
  static const char kLower[] = "http/1.0";
  u8 start[8];
  for (int i = 0; i < 8; ++i) {
    if (ReadByte(source, &start[i], startMs, limitMs) != 0) {
      if (i == 0) return V3_HTTP_EIO;
      // A reply without a status line: what came so far is the start of the body.
      (void)v3BufferWrite(header, start, static_cast<u64>(i));
      *head = HttpResponseHead{200, HTTP_UNFRAMED, 0, 0, true};
      return 0;
    }
    if (start[i] != static_cast<u8>(kUpper[i]) && start[i] != static_cast<u8>(kLower[i])) {
      (void)v3BufferWrite(header, start, static_cast<u64>(i) + 1);
      *head = HttpResponseHead{200, HTTP_UNFRAMED, 0, 0, true};
      return 0;
    }
  }
  head->persistent = start[7] == '1' ? 1 : 0;
  if (v3BufferWrite(header, start, 8) != 0) return V3_HTTP_ENOMEM;
  u8 code[5] = {};
  for (int i = 0; i < 4; ++i) {
    if (ReadByte(source, &code[i], startMs, limitMs) != 0) return V3_HTTP_EIO;
  }
  if (v3BufferWrite(header, code, 4) != 0) return V3_HTTP_ENOMEM;
  const char* end = nullptr;
  u32 status = 0;
  const char* digits = reinterpret_cast<const char*>(code);
  if (v3StrToNum(&status, 4, 0, &end, digits, 10) != 0 || end == digits) {
    head->framing = HTTP_UNFRAMED;
    head->persistent = 0;
    return 0;  // no usable status: the body cannot be read
  }
  head->status = status;
  head->statusKnown = true;

  // The header ends with CR LF CR LF: the counter expects CR at even and LF at odd counts.
  for (int seen = 0; seen < 4;) {
    u8 byte;
    if (ReadByte(source, &byte, startMs, limitMs) != 0) return V3_HTTP_EIO;
    if (v3BufferLength(header) >= V3_HTTP_HEADER_MAX) return V3_HTTP_EIO;
    if (v3BufferWrite(header, &byte, 1) != 0) return V3_HTTP_ENOMEM;
    if (byte == ((seen % 2 == 0) ? '\r' : '\n')) {
      ++seen;
    } else {
      seen = 0;
    }
  }
  const u8 nul = 0;
  if (v3BufferWrite(header, &nul, 1) != 0) return V3_HTTP_ENOMEM;
  const char* text = reinterpret_cast<const char*>(v3BufferData(header));
  u32 length = 0;
  const int found = FindLength(text, &length);
  if (found < 0) return V3_HTTP_EIO;
  if (found > 0) {
    head->framing = HTTP_LENGTH;
    head->remaining = length;
  } else if (std::strstr(text, "Transfer-Encoding: chunked") != nullptr) {
    head->framing = HTTP_CHUNKED;
  } else {
    head->framing = HTTP_UNTIL_CLOSE;
    head->persistent = 0;
  }
  return 0;
}

}  // namespace

int v3HttpReadHead(HttpByteSource* source, ByteBuffer* header, HttpResponseHead* head, u32 limitMs) {
  const u64 startMs = v3MonotonicMs();
  // An interim (1xx) response is followed by the real one: it is read past, within the same limit, a
  // bounded number of times.
  for (int response = 0; response < kInterimResponsesMax; ++response) {
    const int rc = ReadOneHead(source, header, head, startMs, limitMs);
    if (rc != 0 || !head->statusKnown || head->status < 100 || head->status > 199) return rc;
    u8 discard[256];
    while (v3BufferRead(discard, sizeof discard, header) > 0) {
    }
  }
  return V3_HTTP_EIO;
}

int v3HttpReadChunkSize(HttpByteSource* source, u32* size, u32 limitMs) {
  const u64 startMs = v3MonotonicMs();
  // Only the one line end that closes the previous chunk's data may come before the size line: a flood of
  // empty lines is a malformed body, not a reason to keep reading.
  for (bool lineEndSeen = false;; lineEndSeen = true) {
    char line[16] = {};
    u64 used = 0;
    while (used < 15) {
      u8 byte;
      if (ReadByte(source, &byte, startMs, limitMs) != 0) break;
      line[used++] = static_cast<char>(byte);
      if (byte == '\n') break;
    }
    if (used == 2 && line[0] == '\r' && line[1] == '\n') {
      if (lineEndSeen) return -1;
      continue;
    }
    if (used < 3 || line[used - 2] != '\r' || line[used - 1] != '\n') return -1;
    const char* end = nullptr;
    if (v3StrToNum(size, 4, 0, &end, line, 16) != 0 || end == line) return -1;  // must fit 32 bits
    if (*size == 0) {
      u8 last[2];
      if (ReadByte(source, &last[0], startMs, limitMs) != 0 || ReadByte(source, &last[1], startMs, limitMs) != 0) {
        return -1;
      }
    }
    return 0;
  }
}
