// The client's log: "QVNlog.txt" mirrored on the console. Every part of the client reports through here.
// LogPrint stamps each new line with the UTC time; LogWrite writes text as it is. Thread-safe: one lock
// makes every call whole, stamp included. Safe from the termination handler, which runs only in a thread
// that holds no lock.
#pragma once

#include "base/settings.h"
#include "runtime/types.h"

// The level test comes before any formatting, so a suppressed message costs nothing.
#define LOG_AT(level, ...)                                      \
  do {                                                          \
    if (g_settings.verbosity >= (level)) LogPrint(__VA_ARGS__); \
  } while (0)

// Formats (printf conversions) into at most 255 characters, stamps it at a line start, writes it.
void LogPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats (printf conversions) and writes without stamp or level; the log file is flushed every time.
void LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "[%s %u %02u:%02u:%02u]" with date, "[%02u:%02u:%02u]" without, for the current UTC time.
void FormatTimestamp(char* out, u64 capacity, int withDate);
void LogSetConsoleEcho(u32 on);
// Writes the process's last line and lets nothing follow it: threads still running while exit proceeds
// cannot add to the log after the shutdown line.
void LogWriteLast(const char* text);
// Opens the log for writing again (tests).
void LogUnseal();
// Forgets the line-start state (tests and a fresh start).
void LogResetLineStart();
