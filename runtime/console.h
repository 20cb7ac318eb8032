// Console output and input. Output is whole per call (the C library's stream lock); input switches the
// terminal's echo for the duration of the call and always restores the previous settings, even when a
// SIGINT or SIGTERM ends the process meanwhile.
#pragma once

#include "runtime/types.h"

// Writes length bytes to standard output. 0, or -1 when the write failed.
[[nodiscard]] int v3ConsoleWrite(const char* text, u64 length);
void v3ConsoleFlush();

// Reads one line (the newline is not stored), keeps at most capacity - 1 characters and drops the rest of
// the line. echo 1: typed characters are shown; echo 0: only the newline is. Returns the count stored,
// or -1 at end of input before any character (or on bad arguments).
[[nodiscard]] s64 v3Input(char* buffer, u64 capacity, u32 echo);
// Reads exactly count characters, each delivered at the key press. Returns the count read (fewer at end
// of input), or -1 at end of input before any character.
[[nodiscard]] s64 v3InputRaw(char* buffer, u64 count, u32 echo);
