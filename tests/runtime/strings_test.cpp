// String bounds and integer conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/strings.h"

TEST(StrCopy, NeverTruncatesAndLeavesDestinationOnFailure) {
  char dst[16] = "untouched";
  EXPECT_EQ(v3StrCopy(dst, "123456789", 9), -1);
  EXPECT_STREQ(dst, "untouched");
  EXPECT_EQ(v3StrCopy(dst, "123456789", 10), 0);
  EXPECT_STREQ(dst, "123456789");
  EXPECT_EQ(v3StrCopy(dst, "x", 0), -1);
  EXPECT_EQ(v3StrCopy(nullptr, "x", 4), -1);
  EXPECT_EQ(v3StrCopy(dst, nullptr, 4), -1);
}

TEST(StrAppend, FailsWhenCombinedLengthReachesCapacity) {
  char dst[16] = "abcd";
  EXPECT_EQ(v3StrAppend(dst, "efghi", 9), -1);
  EXPECT_STREQ(dst, "abcd");
  EXPECT_EQ(v3StrAppend(dst, "efghi", 10), 0);
  EXPECT_STREQ(dst, "abcdefghi");
}

TEST(StrCmp, ComparesUnsignedBytesWithinLimit) {
  EXPECT_EQ(v3StrCmp("-config", "-config", 16), 0);
  EXPECT_GT(v3StrCmp("-configure", "-config", 16), 0);
  EXPECT_EQ(v3StrCmp("abcX", "abcY", 3), 0);
  EXPECT_GT(v3StrCmp("\xff", "a", 4), 0);  // bytes are unsigned
  const char* same = "x";
  EXPECT_EQ(v3StrCmp(same, same, 0), 0);
  EXPECT_EQ(v3StrCmp("x", "y", 0), -1);
  EXPECT_EQ(v3StrCmp(nullptr, "y", 5), -1);
  EXPECT_EQ(v3StrCmp(nullptr, nullptr, 5), 0);
  EXPECT_EQ(v3StrLength(nullptr), 0u);
}

TEST(StrSearch, StaysWithinLimit) {
  const char* s = "hello world";
  EXPECT_EQ(v3StrChar(s, 'w', 11), s + 6);
  EXPECT_EQ(v3StrChar(s, 'w', 6), nullptr);
  EXPECT_EQ(v3StrStr(s, "world", 11), s + 6);
  EXPECT_EQ(v3StrStr(s, "world", 7), s + 6);  // starts within the limit
  EXPECT_EQ(v3StrStr(s, "world", 6), nullptr);
  EXPECT_EQ(v3StrStr(s, "", 11), nullptr);
  EXPECT_EQ(v3StrStr("", "a", 11), nullptr);
  EXPECT_EQ(v3StrStr(s, "hello", 3), nullptr);  // sub longer than max
}

struct NumberCase {
  const char* text;
  u32 width;
  u32 signedness;
  u32 base;
  int rc;
  std::string value;  // decimal, when rc == 0
  int endOffset;      // -1: not checked
};

std::string Decimal(const unsigned char* raw, u32 width, u32 signedness) {
  u128 v = 0;
  std::memcpy(&v, raw, width);
  bool negative = false;
  if (signedness && (raw[width - 1] & 0x80)) {
    negative = true;
    if (width < 16) v |= ~u128{0} << (width * 8);
    v = ~v + 1;
  }
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return negative ? "-" + digits : digits;
}

void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.text << " width " << c.width << " base " << c.base; }

class StrToNumTable : public ::testing::TestWithParam<NumberCase> {};

TEST_P(StrToNumTable, Converts) {
  const NumberCase& c = GetParam();
  unsigned char raw[16] = {};
  const char* end = nullptr;
  ASSERT_EQ(v3StrToNum(raw, c.width, c.signedness, &end, c.text, c.base), c.rc) << c.text;
  if (c.rc == 0) {
    EXPECT_EQ(Decimal(raw, c.width, c.signedness), c.value) << c.text;
  }
  if (c.endOffset >= 0) {
    EXPECT_EQ(end - c.text, c.endOffset) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrToNumTable,
    ::testing::Values(
        NumberCase{"0x1F", 4, 0, 0, 0, "31", 4}, NumberCase{"017", 4, 0, 0, 0, "15", 3},
        NumberCase{"  42", 4, 0, 0, 0, "42", 4}, NumberCase{"+7", 4, 1, 10, 0, "7", 2},
        NumberCase{"-5", 4, 0, 10, -1, "", -1}, NumberCase{"-5", 4, 1, 10, 0, "-5", 2},
        NumberCase{"4294967295", 4, 0, 10, 0, "4294967295", 10}, NumberCase{"4294967296", 4, 0, 10, -1, "", -1},
        NumberCase{"2147483647", 4, 1, 10, 0, "2147483647", -1}, NumberCase{"-2147483648", 4, 1, 10, -1, "", -1},
        NumberCase{"12ab", 4, 0, 10, 0, "12", 2}, NumberCase{"abc", 4, 0, 10, 0, "0", 0},
        NumberCase{"zz", 4, 0, 36, 0, "1295", 2}, NumberCase{"101", 4, 0, 2, 0, "5", 3},
        NumberCase{"7", 4, 0, 1, -1, "", -1}, NumberCase{"7", 4, 0, 37, -1, "", -1},
        NumberCase{"7", 2, 0, 10, -1, "", -1},
        NumberCase{"18446744073709551615", 8, 0, 10, 0, "18446744073709551615", -1},
        NumberCase{"18446744073709551616", 8, 0, 10, -1, "", -1},
        NumberCase{"-9223372036854775807", 8, 1, 10, 0, "-9223372036854775807", -1},
        NumberCase{"-9223372036854775808", 8, 1, 10, -1, "", -1},
        NumberCase{"340282366920938463463374607431768211455", 16, 0, 10, 0,
                   "340282366920938463463374607431768211455", -1},
        NumberCase{"340282366920938463463374607431768211456", 16, 0, 10, -1, "", -1},
        NumberCase{"-170141183460469231731687303715884105727", 16, 1, 10, 0,
                   "-170141183460469231731687303715884105727", -1},
        NumberCase{"-170141183460469231731687303715884105728", 16, 1, 10, -1, "", -1},
        NumberCase{"0xffffffffffffffffffffffffffffffff", 16, 0, 0, 0, "340282366920938463463374607431768211455", -1},
        NumberCase{"0x", 4, 0, 0, 0, "0", 1}));

TEST(StrToNum, RejectsNullArguments) {
  u32 v = 0;
  EXPECT_EQ(v3StrToNum(nullptr, 4, 0, nullptr, "1", 10), -1);
  EXPECT_EQ(v3StrToNum(&v, 4, 0, nullptr, nullptr, 10), -1);
}
