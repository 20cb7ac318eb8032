// Bounded string operations. Every destination comes with its capacity; nothing is ever truncated:
// an operation that does not fit fails and leaves the destination unchanged. Thread-safe.
#pragma once

#include "runtime/types.h"

// Characters before the terminator; 0 for null.
[[nodiscard]] u64 v3StrLength(const char* s);
// 0, or -1 (null, capacity 0, or length of src not below capacity: dst untouched).
[[nodiscard]] int v3StrCopy(char* dst, const char* src, u64 capacity);
// 0, or -1 when the combined length is not below capacity (dst untouched).
[[nodiscard]] int v3StrAppend(char* dst, const char* src, u64 capacity);
// Difference of the first differing unsigned bytes within max characters, else 0.
// With a null argument or max 0: 0 when a == b (same pointer), -1 otherwise.
[[nodiscard]] int v3StrCmp(const char* a, const char* b, u64 max);
// First ch among the first max characters (stops at the terminator), or null.
[[nodiscard]] const char* v3StrChar(const char* s, char ch, u64 max);
// First sub starting within the first max characters of s, or null (null/empty strings, sub longer than max).
[[nodiscard]] const char* v3StrStr(const char* s, const char* sub, u64 max);

// Integer conversion into a 4-, 8- or 16-byte result, signed (signedness 1) or unsigned (0).
// Base 2..36, or 0 for automatic (0x -> 16, leading 0 -> 8, else 10). Stops at the first non-digit and
// stores its position in *end when end is not null. 0, or -1 for out-of-range values, a '-' on an
// unsigned conversion, a bad base or width, or null arguments.
[[nodiscard]] int v3StrToNum(void* result, u32 width, u32 signedness, const char** end, const char* text, u32 base);
// Replaces every control byte among the first length bytes (below 0x20 but tab, and 0x7F) with "?", so
// that text from a server or a core cannot drive the terminal it is shown on.
void v3MaskControls(char* text, u64 length);
