// Time arithmetic and the calendar of the runtime.
#include "runtime/time.h"

#include <sys/time.h>
#include <time.h>

const char* const MonthNames[12] = {"January", "Feburary", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};
const char* const DayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

s128 v3TimeToFixed(v3Time t) {
  return static_cast<s128>((static_cast<u128>(static_cast<u64>(t.seconds)) << 64) | t.fraction);
}

v3Time v3TimeFromFixed(s128 fixed) {
  const auto bits = static_cast<u128>(fixed);
  return v3Time{static_cast<s64>(static_cast<u64>(bits >> 64)), static_cast<u64>(bits)};
}

v3Time v3TimeSubtract(v3Time later, v3Time earlier) {
  // Wrap-around arithmetic on the unsigned form, as the 128-bit integer type defines it.
  return v3TimeFromFixed(static_cast<s128>(static_cast<u128>(v3TimeToFixed(later)) -
                                           static_cast<u128>(v3TimeToFixed(earlier))));
}

v3Time v3TimeDivide(v3Time t, u64 divisor) { return v3TimeFromFixed(v3TimeToFixed(t) / static_cast<s128>(divisor)); }

int v3TimeCompare(v3Time a, v3Time b) {
  const s128 x = v3TimeToFixed(a);
  const s128 y = v3TimeToFixed(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

v3Time v3TimeFromUnix(s64 unixSeconds, u64 microseconds) {
  return v3Time{unixSeconds - V3_EPOCH_OFFSET, microseconds * V3_FRACTION_PER_MICROSECOND};
}

int v3ClockNow(v3Time* out) {
  if (out == nullptr) return -1;
  struct timeval now;
  if (gettimeofday(&now, nullptr) != 0) return -1;
  *out = v3TimeFromUnix(now.tv_sec, static_cast<u64>(now.tv_usec));
  return 0;
}

u64 v3MonotonicMs() {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<u64>(now.tv_sec) * 1000 + static_cast<u64>(now.tv_nsec) / 1000000;
}

u32 v3MillisecondsLeft(u64 startMs, u32 limitMs) {
  const u64 elapsed = v3MonotonicMs() - startMs;
  return elapsed >= limitMs ? 0 : static_cast<u32>(limitMs - elapsed);
}

int v3IsLeapYear(s64 year) {
  if (year > 1752) return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
  if (year >= 8) return year % 4 == 0 ? 1 : 0;
  if (year >= -45 && year <= -9) return year % 3 == 0 ? 1 : 0;
  return 0;
}

namespace {

constexpr s64 kSecondsPerDay = 86400;
constexpr s64 kDaysPer400Years = 146097;
constexpr s64 kDaysPer4Years = 1461;

s64 DaysInYear(s64 year) { return v3IsLeapYear(year) ? 366 : 365; }

// Moves (year, days-into-year) so that 0 <= days < DaysInYear(year), where days counts from 1 January of
// year. Whole periods of the leap rule are skipped in one step so that any s64 time is reached quickly.
void NormaliseYear(s64* year, s64* days) {
  // Forward: the Gregorian rule holds from 2000 on, so 400-year cycles can be skipped.
  if (*days >= kDaysPer400Years && *year > 1752) {
    const s64 cycles = *days / kDaysPer400Years;
    *year += cycles * 400;
    *days -= cycles * kDaysPer400Years;
  }
  while (*days >= DaysInYear(*year)) {
    *days -= DaysInYear(*year);
    ++*year;
  }
  while (*days < 0) {
    const s64 y = *year;
    if (y - 4 >= 8 && y <= 1753 && y % 4 == 0 && -*days > kDaysPer4Years) {
      *year -= 4;  // from a multiple of 4 down to 8 every four-year block holds exactly one leap year
      *days += kDaysPer4Years;
    } else if (y <= -46 && -*days > 365) {
      const s64 years = -*days / 365;  // no leap years at all below -45
      *year -= years;
      *days += years * 365;
    } else {
      --*year;
      *days += DaysInYear(*year);
    }
  }
}

}  // namespace

int v3TimeToDate(v3Date* out, v3Time t) {
  if (out == nullptr) return -1;
  s64 dayNumber = t.seconds / kSecondsPerDay;
  s64 secondOfDay = t.seconds % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    --dayNumber;
  }
  s64 year = 2000;
  s64 dayOfYear = dayNumber;
  NormaliseYear(&year, &dayOfYear);

  static constexpr u32 kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  u32 month = 0;
  s64 day = dayOfYear;
  for (; month < 12; ++month) {
    const s64 length = kMonthDays[month] + (month == 1 && v3IsLeapYear(year) ? 1 : 0);
    if (day < length) break;
    day -= length;
  }
  if (month == 12) return -1;

  out->year = year;
  out->month = month;
  out->day = static_cast<u32>(day);
  // 2000-01-01 was a Saturday.
  out->dayOfWeek = static_cast<u32>(((dayNumber % 7) + 7 + 6) % 7);
  out->dayOfYear = static_cast<u32>(dayOfYear);
  out->hour = static_cast<u32>(secondOfDay / 3600);
  out->minute = static_cast<u32>(secondOfDay / 60 % 60);
  out->second = static_cast<u32>(secondOfDay % 60);
  out->fraction = t.fraction;
  return 0;
}

int v3LocalHour() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  return ::localtime_r(&now, &local) != nullptr ? local.tm_hour : 0;
}
