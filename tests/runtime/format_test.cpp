// The runtime's format language.
#include <gtest/gtest.h>

#include <string>

#include "runtime/format.h"

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buffer[256];
  v3PrintBuffer(buffer, sizeof buffer, format, args...);
  return buffer;
}

}  // namespace

TEST(FormatLanguage, Conversions) {
  EXPECT_EQ(Format("100%% %c|%s|%.3s|", 'x', "text", "abcdef"), "100% x|text|abc|");
  EXPECT_EQ(Format("%i %u %X", -42, 4294967295u, 0xBEEFu), "-42 4294967295 BEEF");
  EXPECT_EQ(Format("%j %v %Y", static_cast<s64>(INT64_MIN), static_cast<u64>(UINT64_MAX), u64{0xABCDEF0123}),
            "-9223372036854775808 18446744073709551615 ABCDEF0123");
  const u128 big = ~u128{0};
  const s128 negative = -static_cast<s128>(big >> 1) - 1;
  EXPECT_EQ(Format("%w", big), "340282366920938463463374607431768211455");
  EXPECT_EQ(Format("%k", negative), "-170141183460469231731687303715884105728");
  EXPECT_EQ(Format("%Z", u128{1} << 100), "10000000000000000000000000");
  EXPECT_EQ(Format("%f|%.2F", 1.5, 2.0), "1.500000|2.00");
  EXPECT_EQ(Format("%p", reinterpret_cast<void*>(0x1234)), "0x1234");
}

TEST(FormatLanguage, WidthsPrecisionAndPadding) {
  EXPECT_EQ(Format("[%5u][%-5u][%05u][%05i]", 42u, 42u, 42u, -42), "[   42][42   ][00042][-0042]");
  EXPECT_EQ(Format("[%*s][%-*s]", 4, "ab", 4, "ab"), "[  ab][ab  ]");
  EXPECT_EQ(Format("[%.*s]", 2, "abcdef"), "[ab]");
  EXPECT_EQ(Format("[%02u:%02u]", 7u, 5u), "[07:05]");
}

TEST(FormatLanguage, RawBytesIncludeNul) {
  char buffer[16];
  const u64 n = v3PrintBuffer(buffer, sizeof buffer, "<%.3b>", "a\0b");
  ASSERT_EQ(n, 5u);
  EXPECT_EQ(std::string(buffer, 5), std::string("<a\0b>", 5));
}

TEST(FormatLanguage, UnknownLetterWritesNothingAndTruncatedFormatStops) {
  EXPECT_EQ(Format("a%db%", 5), "ab");
  EXPECT_EQ(Format("x%"), "x");
}

TEST(PrintBuffer, KeepsCapacityMinusOneAndTerminates) {
  char buffer[5] = {'?', '?', '?', '?', '?'};
  EXPECT_EQ(v3PrintBuffer(buffer, 5, "%s", "0123456789"), 4u);
  EXPECT_STREQ(buffer, "0123");
  EXPECT_EQ(v3PrintBuffer(buffer, 0, "%s", "x"), 0u);
}

TEST(PrintConsole, WritesToStandardOutput) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(v3PrintConsole("Usage:   %.30s [-mode]\n", "a-program-name-that-is-longer-than-thirty"), 48u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage:   a-program-name-that-is-longer- [-mode]\n");
}
