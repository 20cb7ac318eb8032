// The runtime's own format language, used for console prompts, buffers and files (log messages use the
// C library's printf conversions instead). Conversions: "%" [flags - 0] [width|*] [.precision|.*] letter,
// letters c s b(raw bytes, precision = count) i u X j v Y k w Z f F p; "%%" writes "%"; any other letter
// ends the conversion and writes nothing. Widths: i u X 32-bit, j v Y 64-bit, k w Z 128-bit.
// The format attribute is deliberately absent: the compiler's printf checker does not know this language.
#pragma once

#include <cstdarg>

#include "runtime/types.h"

// Receives formatted text piece by piece; returns false to stop the output (a failed write).
struct FormatSink {
  bool (*put)(FormatSink* sink, const char* text, u64 length);
  void* context;
};

// Formats into the sink; returns the number of characters the sink accepted.
u64 v3FormatV(FormatSink* sink, const char* format, va_list args);

// Formats to standard output and flushes it; returns the number of characters written.
u64 v3PrintConsole(const char* format, ...);
// Writes at most capacity - 1 characters and always a terminator (capacity > 0); returns the count stored.
u64 v3PrintBuffer(char* buffer, u64 capacity, const char* format, ...);
u64 v3PrintBufferV(char* buffer, u64 capacity, const char* format, va_list args);
struct RuntimeFile;
// Formats into an open runtime file; a failed write stops the output. Returns the characters written.
u64 v3PrintFile(RuntimeFile* file, const char* format, ...);
