// Log stamps, the 255-character cut, and text passed through unformatted.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "base/log.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    LogSetConsoleEcho(1);
    LogResetLineStart();
    testing::internal::CaptureStdout();
  }
  std::string Output() { return testing::internal::GetCapturedStdout(); }
};

const std::regex kStamp(R"(\[\d\d:\d\d:\d\d\] )");

}  // namespace

TEST_F(LogTest, StampsOnlyAtALineStart) {
  LogPrint("first part, ");
  LogPrint("second part\n");
  LogPrint("next line\n");
  const std::string out = Output();
  EXPECT_TRUE(std::regex_match(out, std::regex(R"(\[\d\d:\d\d:\d\d\] first part, second part\n)"
                                               R"(\[\d\d:\d\d:\d\d\] next line\n)")))
      << out;
}

TEST_F(LogTest, EmptyMessageDoesNotEndALine) {
  LogPrint("%s", "");
  LogPrint("text\n");
  const std::string out = Output();
  EXPECT_EQ(std::distance(std::sregex_iterator(out.begin(), out.end(), kStamp), std::sregex_iterator()), 1) << out;
}

TEST_F(LogTest, PercentSignsInArgumentsReachTheLogUnaltered) {
  LogPrint("%s\n", "Completed 50% of 100%d %s");
  const std::string out = Output();
  EXPECT_NE(out.find("Completed 50% of 100%d %s\n"), std::string::npos) << out;
}

TEST_F(LogTest, LongMessageIsCutTo255AndContinuesTheLine) {
  LogPrint("%s\n", std::string(300, 'x').c_str());
  LogPrint("tail\n");
  const std::string out = Output();
  // stamp (11 characters) + 255 x, no newline, then "tail\n" without a stamp
  EXPECT_EQ(out.size(), 11u + 255u + 5u);
  EXPECT_EQ(out.substr(11), std::string(255, 'x') + "tail\n");
}

TEST_F(LogTest, LevelFilterRunsBeforeFormatting) {
  g_settings.verbosity = 2;
  int evaluated = 0;
  LOG_AT(3, "hidden %d\n", ++evaluated);
  LOG_AT(2, "shown\n");
  g_settings.verbosity = 9;
  LOG_AT(9, "trace\n");
  const std::string out = Output();
  EXPECT_EQ(evaluated, 0);
  EXPECT_EQ(out.find("hidden"), std::string::npos);
  EXPECT_NE(out.find("shown\n"), std::string::npos);
  EXPECT_NE(out.find("trace\n"), std::string::npos);
}

TEST_F(LogTest, WriteNeitherStampsNorChangesTheLineStart) {
  LogPrint("open ");
  LogWrite("%s", "raw ");
  LogPrint("close\n");
  const std::string out = Output();
  EXPECT_TRUE(std::regex_match(out, std::regex(R"(\[\d\d:\d\d:\d\d\] open raw close\n)"))) << out;
}

TEST(Timestamp, DatedFormUsesMonthNames) {
  char stamp[64];
  FormatTimestamp(stamp, sizeof stamp, 1);
  EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\[(January|Feburary|March|April|May|June|July|August|)"
                                                 R"(September|October|November|December) \d{1,2} \d\d:\d\d:\d\d\])")))
      << stamp;
  FormatTimestamp(stamp, sizeof stamp, 0);
  EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\[\d\d:\d\d:\d\d\])"))) << stamp;
}

TEST_F(LogTest, NothingFollowsTheLastLine) {
  LogWriteLast("\nQuorvane Client Shutdown.\n");
  LogPrint("a watcher still running\n");
  LogWrite("%s", "or a sender\n");
  LogUnseal();
  EXPECT_EQ(Output(), "\nQuorvane Client Shutdown.\n");
}
