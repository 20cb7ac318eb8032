// The runtime's format language, written once against a sink so that console, buffer and file output agree.
#include "runtime/format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "runtime/console.h"
#include "runtime/file.h"

namespace {

struct Spec {
  bool leftJustify = false;
  bool zeroPad = false;
  u64 width = 0;
  bool hasPrecision = false;
  u64 precision = 0;
};

struct Writer {
  FormatSink* sink;
  u64 count = 0;
  bool stopped = false;

  void Put(const char* text, u64 length) {
    if (stopped || length == 0) return;
    if (!sink->put(sink, text, length)) {
      stopped = true;
      return;
    }
    count += length;
  }
  void Repeat(char c, u64 times) {
    char block[64];
    std::memset(block, c, sizeof block);
    while (times > 0 && !stopped) {
      const u64 piece = times < sizeof block ? times : sizeof block;
      Put(block, piece);
      times -= piece;
    }
  }
  // Pads a finished field to the width; a zero pad goes after the sign.
  void Field(const Spec& spec, const char* text, u64 length, bool numeric) {
    const u64 pad = spec.width > length ? spec.width - length : 0;
    if (spec.leftJustify) {
      Put(text, length);
      Repeat(' ', pad);
      return;
    }
    if (spec.zeroPad && numeric) {
      if (length > 0 && text[0] == '-') {
        Put(text, 1);
        ++text;
        --length;
      }
      Repeat('0', pad);
      Put(text, length);
      return;
    }
    Repeat(' ', pad);
    Put(text, length);
  }
};

// Writes value in the base into the end of buf; returns the first character's index.
u64 Digits(char* buf, u64 size, u128 value, u32 base, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  u64 at = size;
  do {
    buf[--at] = digits[static_cast<u32>(value % base)];
    value /= base;
  } while (value != 0);
  return at;
}

void Integer(Writer& out, const Spec& spec, u128 magnitude, bool negative, u32 base) {
  char buf[48];
  u64 at = Digits(buf, sizeof buf, magnitude, base, true);
  if (negative) buf[--at] = '-';
  out.Field(spec, buf + at, sizeof buf - at, true);
}

void Signed(Writer& out, const Spec& spec, s128 value) {
  const bool negative = value < 0;
  const u128 magnitude = negative ? ~static_cast<u128>(value) + 1 : static_cast<u128>(value);
  Integer(out, spec, magnitude, negative, 10);
}

void Floating(Writer& out, const Spec& spec, double value, char letter) {
  char pattern[16];
  std::snprintf(pattern, sizeof pattern, "%%%s%s*.*%c", spec.leftJustify ? "-" : "", spec.zeroPad ? "0" : "",
                letter);
  const int precision = spec.hasPrecision ? static_cast<int>(spec.precision) : 6;
  const int width = static_cast<int>(spec.width);
  char small[128];
  const int needed = std::snprintf(small, sizeof small, pattern, width, precision, value);
  if (needed < 0) return;
  if (static_cast<u64>(needed) < sizeof small) {
    out.Put(small, static_cast<u64>(needed));
    return;
  }
  char* large = new (std::nothrow) char[static_cast<size_t>(needed) + 1];
  if (large == nullptr) return;
  std::snprintf(large, static_cast<size_t>(needed) + 1, pattern, width, precision, value);
  out.Put(large, static_cast<u64>(needed));
  delete[] large;
}

// Reads digits or a "*" argument; a negative "*" width means left-justify, as in C.
const char* Number(const char* p, va_list* args, u64* value, bool* negative) {
  *negative = false;
  if (*p == '*') {
    const int given = va_arg(*args, int);
    *negative = given < 0;
    *value = given < 0 ? static_cast<u64>(-static_cast<s64>(given)) : static_cast<u64>(given);
    return p + 1;
  }
  *value = 0;
  while (*p >= '0' && *p <= '9') {
    if (*value < 100000000) *value = *value * 10 + static_cast<u64>(*p - '0');
    ++p;
  }
  return p;
}

// Handles one conversion starting after its "%"; returns the position after it, or null at the format's end.
const char* Conversion(Writer& out, const char* p, va_list* args) {
  Spec spec;
  for (;; ++p) {
    if (*p == '-') {
      spec.leftJustify = true;
    } else if (*p == '0') {
      spec.zeroPad = true;
    } else {
      break;
    }
  }
  bool negative = false;
  p = Number(p, args, &spec.width, &negative);
  if (negative) spec.leftJustify = true;
  if (*p == '.') {
    spec.hasPrecision = true;
    p = Number(p + 1, args, &spec.precision, &negative);
    if (negative) spec.hasPrecision = false;
  }
  const char letter = *p;
  if (letter == '\0') return nullptr;
  switch (letter) {
    case '%':
      out.Put("%", 1);
      break;
    case 'c': {
      const char c = static_cast<char>(va_arg(*args, int));
      out.Field(spec, &c, 1, false);
      break;
    }
    case 's': {
      const char* s = va_arg(*args, const char*);
      if (s == nullptr) s = "(null)";
      u64 length = 0;
      while ((!spec.hasPrecision || length < spec.precision) && s[length] != '\0') ++length;
      out.Field(spec, s, length, false);
      break;
    }
    case 'b': {
      const char* bytes = va_arg(*args, const char*);
      if (bytes != nullptr && spec.hasPrecision) out.Field(spec, bytes, spec.precision, false);
      break;
    }
    case 'i':
      Signed(out, spec, va_arg(*args, s32));
      break;
    case 'u':
      Integer(out, spec, va_arg(*args, u32), false, 10);
      break;
    case 'X':
      Integer(out, spec, va_arg(*args, u32), false, 16);
      break;
    case 'j':
      Signed(out, spec, va_arg(*args, s64));
      break;
    case 'v':
      Integer(out, spec, va_arg(*args, u64), false, 10);
      break;
    case 'Y':
      Integer(out, spec, va_arg(*args, u64), false, 16);
      break;
    case 'k':
      Signed(out, spec, va_arg(*args, s128));
      break;
    case 'w':
      Integer(out, spec, va_arg(*args, u128), false, 10);
      break;
    case 'Z':
      Integer(out, spec, va_arg(*args, u128), false, 16);
      break;
    case 'f':
    case 'F':
      Floating(out, spec, va_arg(*args, double), letter);
      break;
    case 'p': {
      char buf[24];
      const auto address = reinterpret_cast<std::uintptr_t>(va_arg(*args, void*));
      u64 at = Digits(buf, sizeof buf, address, 16, false);
      buf[--at] = 'x';
      buf[--at] = '0';
      out.Field(spec, buf + at, sizeof buf - at, false);
      break;
    }
    default:
      break;  // an unknown letter ends the conversion and writes nothing
  }
  return p + 1;
}

struct BufferContext {
  char* buffer;
  u64 room;  // characters that still fit before the terminator
  u64 stored;
};

bool PutBuffer(FormatSink* sink, const char* text, u64 length) {
  auto* ctx = static_cast<BufferContext*>(sink->context);
  const u64 piece = length < ctx->room ? length : ctx->room;
  std::memcpy(ctx->buffer + ctx->stored, text, static_cast<size_t>(piece));
  ctx->stored += piece;
  ctx->room -= piece;
  return true;  // keep consuming arguments; the text beyond the capacity is dropped
}

bool PutFile(FormatSink* sink, const char* text, u64 length) {
  u64 written = 0;
  return v3FileWrite(static_cast<RuntimeFile*>(sink->context), &written, text, length) == 0;
}

bool PutConsole(FormatSink*, const char* text, u64 length) { return v3ConsoleWrite(text, length) == 0; }

}  // namespace

u64 v3FormatV(FormatSink* sink, const char* format, va_list args) {
  Writer out{sink};
  if (format == nullptr) return 0;
  va_list local;
  va_copy(local, args);
  const char* p = format;
  while (*p != '\0' && !out.stopped) {
    const char* percent = std::strchr(p, '%');
    if (percent == nullptr) {
      out.Put(p, std::strlen(p));
      break;
    }
    out.Put(p, static_cast<u64>(percent - p));
    p = Conversion(out, percent + 1, &local);
    if (p == nullptr) break;
  }
  va_end(local);
  return out.count;
}

u64 v3PrintConsole(const char* format, ...) {
  FormatSink sink{PutConsole, nullptr};
  va_list args;
  va_start(args, format);
  const u64 count = v3FormatV(&sink, format, args);
  va_end(args);
  v3ConsoleFlush();
  return count;
}

u64 v3PrintBufferV(char* buffer, u64 capacity, const char* format, va_list args) {
  if (buffer == nullptr || capacity == 0) return 0;
  BufferContext ctx{buffer, capacity - 1, 0};
  FormatSink sink{PutBuffer, &ctx};
  v3FormatV(&sink, format, args);
  buffer[ctx.stored] = '\0';
  return ctx.stored;
}

u64 v3PrintBuffer(char* buffer, u64 capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const u64 count = v3PrintBufferV(buffer, capacity, format, args);
  va_end(args);
  return count;
}

u64 v3PrintFile(RuntimeFile* file, const char* format, ...) {
  if (file == nullptr) return 0;
  FormatSink sink{PutFile, file};
  va_list args;
  va_start(args, format);
  const u64 count = v3FormatV(&sink, format, args);
  va_end(args);
  return count;
}
