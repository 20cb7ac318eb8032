// The log file: rotation at start-up, fallbacks, and what reaches the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/log_open.h"
#include "support/temp_dir.h"

namespace {

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    LogSetConsoleEcho(0);
    LogResetLineStart();
  }
  void TearDown() override { CloseLog(); }
  TempDir dir{true};
};

const std::regex kOpening(R"(\n\n--- Opening Log file \[[A-Za-z]+ \d{1,2} \d\d:\d\d:\d\d\] \n\n)");

}  // namespace

TEST_F(LogFileTest, LogBelowTheLimitIsAppendedTo) {
  WriteText("QVNlog.txt", std::string(49999, 'o'));
  WriteText("QVNlog-Prev.txt", "older");
  OpenLog();
  LogPrint("+ Working ...\n");
  const std::string log = ReadText("QVNlog.txt");
  EXPECT_EQ(log.substr(0, 49999), std::string(49999, 'o'));
  EXPECT_TRUE(std::regex_search(log, kOpening));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[\d\d:\d\d:\d\d\] \+ Working \.\.\.\n$)")));
  EXPECT_EQ(ReadText("QVNlog-Prev.txt"), "older");
}

TEST_F(LogFileTest, LogAtTheLimitIsMovedAsideReplacingTheOlderOne) {
  WriteText("QVNlog.txt", std::string(50000, 'o'));
  WriteText("QVNlog-Prev.txt", "older");
  OpenLog();
  EXPECT_EQ(ReadText("QVNlog-Prev.txt"), std::string(50000, 'o'));
  EXPECT_TRUE(std::regex_match(ReadText("QVNlog.txt"), kOpening));
}

TEST_F(LogFileTest, MissingLogStartsANewOne) {
  OpenLog();
  EXPECT_TRUE(std::regex_match(ReadText("QVNlog.txt"), kOpening));
  struct stat st;
  EXPECT_NE(stat("QVNlog-Prev.txt", &st), 0);
}

TEST_F(LogFileTest, UnopenableLogFallsBackToTheSecondFile) {
  ASSERT_EQ(mkdir("QVNlog.txt", 0750), 0);  // can be looked up, but not opened nor deleted
  WriteText("QVNlog2.txt", "stale");
  OpenLog();
  const std::string fallback = ReadText("QVNlog2.txt");
  EXPECT_EQ(fallback.find("stale"), std::string::npos);
  EXPECT_NE(fallback.find("\nThe file QVNlog.txt has been locked by the operating system and cannot be\n opened for "
                          "writing (possibly because it is open in another application).\n"),
            std::string::npos)
      << fallback;
  EXPECT_NE(fallback.find("] Before you next run Quorvane, please ensure QVNlog.txt is not open anywhere,\n or simply "
                          "delete it. For now, QVNlog2.txt will be used.\n"),
            std::string::npos)
      << fallback;
}

TEST_F(LogFileTest, VerbosityFiltersTheFileToo) {
  g_settings.verbosity = 2;
  OpenLog();
  LOG_AT(3, "level three\n");
  LOG_AT(2, "level two\n");
  const std::string log = ReadText("QVNlog.txt");
  EXPECT_EQ(log.find("level three"), std::string::npos);
  EXPECT_NE(log.find("level two"), std::string::npos);
}

TEST_F(LogFileTest, ConcurrentMessagesAreEachStampedOnceAndWhole) {
  OpenLog();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) {
        LogPrint("thread %d ", t);
        LogPrint("message %d\n", i);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string log = ReadText("QVNlog.txt");
  const std::string body = log.substr(log.rfind(" \n\n") + 3);
  // After every line end comes a stamp (none lost), and a stamp is never followed by another (none doubled).
  size_t lines = 0;
  for (size_t at = body.find('\n'); at != std::string::npos; at = body.find('\n', at + 1)) {
    ++lines;
    if (at + 1 < body.size()) {
      ASSERT_EQ(body[at + 1], '[') << body.substr(at, 40);
    }
  }
  EXPECT_EQ(lines, 800u);
  EXPECT_EQ(body.find("] ["), std::string::npos);
  const std::regex stamp(R"(\[\d\d:\d\d:\d\d\] )");
  EXPECT_EQ(std::distance(std::sregex_iterator(body.begin(), body.end(), stamp), std::sregex_iterator()), 800);
}
