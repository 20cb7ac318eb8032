// Time arithmetic, the calendar and leap years.
#include <gtest/gtest.h>

#include <ctime>

#include "runtime/time.h"

TEST(Time, UnixConversionMatchesFixedPoint) {
  const v3Time half = v3TimeFromUnix(V3_EPOCH_OFFSET, 500000);
  EXPECT_EQ(half.seconds, 0);
  EXPECT_EQ(half.fraction, 9223372036854500000ULL);
}

TEST(Time, ArithmeticIsOneSigned128BitNumber) {
  const v3Time a{5, 0x8000000000000000ULL};
  const v3Time b{3, 0xC000000000000000ULL};
  const v3Time d = v3TimeSubtract(a, b);  // 5.5 - 3.75 = 1.75
  EXPECT_EQ(d.seconds, 1);
  EXPECT_EQ(d.fraction, 0xC000000000000000ULL);
  const v3Time negative = v3TimeSubtract(b, a);  // -1.75 = -2 + 0.25
  EXPECT_EQ(negative.seconds, -2);
  EXPECT_EQ(negative.fraction, 0x4000000000000000ULL);
  EXPECT_LT(v3TimeCompare(negative, d), 0);
  EXPECT_GT(v3TimeCompare(a, b), 0);
  EXPECT_EQ(v3TimeCompare(a, a), 0);
  const v3Time third = v3TimeDivide(v3Time{3, 0}, 2);
  EXPECT_EQ(third.seconds, 1);
  EXPECT_EQ(third.fraction, 0x8000000000000000ULL);
}

TEST(Time, ClockIsNearSystemTime) {
  v3Time now{};
  ASSERT_EQ(v3ClockNow(&now), 0);
  EXPECT_NEAR(static_cast<double>(now.seconds), static_cast<double>(std::time(nullptr) - V3_EPOCH_OFFSET), 2.0);
  EXPECT_EQ(v3ClockNow(nullptr), -1);
}

struct DateCase {
  s64 seconds;
  s64 year;
  u32 month, day, dayOfWeek, dayOfYear, hour, minute, second;
};

void PrintTo(const DateCase& c, std::ostream* os) { *os << "seconds " << c.seconds; }

class DateTable : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTable, MatchesCalendar) {
  const DateCase& c = GetParam();
  v3Date d{};
  ASSERT_EQ(v3TimeToDate(&d, v3Time{c.seconds, 77}), 0);
  EXPECT_EQ(d.year, c.year);
  EXPECT_EQ(d.month, c.month);
  EXPECT_EQ(d.day, c.day);
  EXPECT_EQ(d.dayOfWeek, c.dayOfWeek);
  EXPECT_EQ(d.dayOfYear, c.dayOfYear);
  EXPECT_EQ(d.hour, c.hour);
  EXPECT_EQ(d.minute, c.minute);
  EXPECT_EQ(d.second, c.second);
  EXPECT_EQ(d.fraction, 77u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DateTable,
    ::testing::Values(DateCase{0, 2000, 0, 0, 6, 0, 0, 0, 0}, DateCase{86400, 2000, 0, 1, 0, 1, 0, 0, 0},
                      DateCase{59 * 86400, 2000, 1, 28, 2, 59, 0, 0, 0},  // 2000-02-29 exists
                      DateCase{31579200, 2000, 11, 30, 0, 365, 12, 0, 0},
                      DateCase{31579200 + 365 * 86400, 2001, 11, 30, 1, 364, 12, 0, 0},
                      DateCase{850003198, 2026, 11, 6, 1, 340, 23, 59, 58},
                      // 2100-03-01: there is no 2100-02-29
                      DateCase{4107542400 - V3_EPOCH_OFFSET, 2100, 2, 0, 1, 59, 0, 0, 0},
                      // 1999-12-31 23:59:59, one second before the epoch
                      DateCase{-1, 1999, 11, 30, 5, 364, 23, 59, 59},
                      // 1970-01-01 (a Thursday)
                      DateCase{-V3_EPOCH_OFFSET, 1970, 0, 0, 4, 0, 0, 0, 0}));

TEST(Date, AgreesWithGregorianCalendarOverManyYears) {
  for (s64 unixSeconds = 946684800; unixSeconds < 4102444800; unixSeconds += 86400 * 13 + 3607) {
    const time_t t = unixSeconds;
    struct tm expected;
    gmtime_r(&t, &expected);
    v3Date d{};
    ASSERT_EQ(v3TimeToDate(&d, v3TimeFromUnix(unixSeconds, 0)), 0);
    ASSERT_EQ(d.year, expected.tm_year + 1900) << unixSeconds;
    ASSERT_EQ(d.month, static_cast<u32>(expected.tm_mon)) << unixSeconds;
    ASSERT_EQ(d.day + 1, static_cast<u32>(expected.tm_mday)) << unixSeconds;
    ASSERT_EQ(d.dayOfWeek, static_cast<u32>(expected.tm_wday)) << unixSeconds;
    ASSERT_EQ(d.dayOfYear, static_cast<u32>(expected.tm_yday)) << unixSeconds;
    ASSERT_EQ(d.hour, static_cast<u32>(expected.tm_hour)) << unixSeconds;
  }
}

TEST(Date, ExtremeTimesFinish) {
  v3Date d{};
  EXPECT_EQ(v3TimeToDate(&d, v3Time{INT64_MAX, 0}), 0);
  EXPECT_GT(d.year, 292000000000);
  EXPECT_EQ(v3TimeToDate(&d, v3Time{INT64_MIN, 0}), 0);
  EXPECT_LT(d.year, -292000000000);
  EXPECT_EQ(v3TimeToDate(nullptr, v3Time{0, 0}), -1);
}

TEST(Date, NamesAreSpeltAsTheClientPrintsThem) {
  EXPECT_STREQ(MonthNames[1], "Feburary");
  EXPECT_STREQ(MonthNames[11], "December");
  EXPECT_STREQ(DayNames[0], "Sunday");
  EXPECT_STREQ(DayNames[6], "Saturday");
}

TEST(LeapYear, FollowsTheHistoricalRule) {
  const struct {
    s64 year;
    int leap;
  } cases[] = {{1900, 0}, {2000, 1}, {2024, 1}, {2100, 0}, {1700, 1}, {1752, 1}, {1753, 0},
               {8, 1},    {4, 0},    {0, 0},    {-12, 1},  {-9, 1},   {-45, 1},  {-46, 0}, {-48, 0}};
  for (const auto& c : cases) EXPECT_EQ(v3IsLeapYear(c.year), c.leap) << c.year;
}
