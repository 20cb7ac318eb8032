// Points in time and UTC calendar dates. v3Time is a signed 128-bit fixed-point count of seconds since
// 2000-01-01 00:00:00 UTC with 64 fractional bits; its in-memory order (seconds, then fraction) is also
// its stored form inside the queue file. All functions are thread-safe.
#pragma once

#include "runtime/types.h"

struct v3Time {
  s64 seconds;   // whole seconds since 2000-01-01 00:00:00 UTC, negative before
  u64 fraction;  // units of 2^-64 s
};
static_assert(sizeof(v3Time) == 16);

struct v3Date {
  s64 year;
  u32 month;       // 0 = January
  u32 day;         // day of month, 0-based
  u32 dayOfWeek;   // 0 = Sunday
  u32 dayOfYear;   // 0-based
  u32 hour;
  u32 minute;
  u32 second;
  u64 fraction;
};

extern const char* const MonthNames[12];
extern const char* const DayNames[7];

// Seconds between 1970-01-01 and 2000-01-01.
inline constexpr s64 V3_EPOCH_OFFSET = 946684800;
// 2^64 / 10^6 rounded down: one microsecond in fraction units.
inline constexpr u64 V3_FRACTION_PER_MICROSECOND = 18446744073709ULL;

// The pair read as one signed 128-bit number, seconds in the upper half.
[[nodiscard]] s128 v3TimeToFixed(v3Time t);
[[nodiscard]] v3Time v3TimeFromFixed(s128 fixed);
[[nodiscard]] v3Time v3TimeSubtract(v3Time later, v3Time earlier);
[[nodiscard]] v3Time v3TimeDivide(v3Time t, u64 divisor);  // REQUIRES: divisor != 0
// Negative, 0 or positive as a is earlier than, equal to or later than b.
[[nodiscard]] int v3TimeCompare(v3Time a, v3Time b);
// A time from whole Unix seconds and microseconds.
[[nodiscard]] v3Time v3TimeFromUnix(s64 unixSeconds, u64 microseconds);

// 0, or -1 when out is null or the clock cannot be read.
[[nodiscard]] int v3ClockNow(v3Time* out);
// The hour of the local time now, 0 to 23 (0 when it cannot be had).
[[nodiscard]] int v3LocalHour();
// Milliseconds on a clock that only moves forward (not the calendar clock, which a user may set back);
// for time limits. Thread-safe.
[[nodiscard]] u64 v3MonotonicMs();
// The milliseconds left of a limit of limitMs that started at startMs (a v3MonotonicMs reading); 0 when used up.
[[nodiscard]] u32 v3MillisecondsLeft(u64 startMs, u32 limitMs);
// 0, or -1 when out is null or the computed day lies outside its month.
[[nodiscard]] int v3TimeToDate(v3Date* out, v3Time t);
// 1 or 0: Gregorian above 1752, every fourth year from 8 to 1752, every third from -45 to -9.
[[nodiscard]] int v3IsLeapYear(s64 year);
