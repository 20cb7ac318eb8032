// The option parser: every option, every error text, the later-wins rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/settings.h"
#include "client/options.h"

namespace {

struct ParseResult {
  int rc;
  std::string console;
};

ParseResult Parse(std::vector<std::string> words) {
  ResetProcessSettings();
  words.insert(words.begin(), "qvn3");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  testing::internal::CaptureStdout();
  const int rc = ParseOptions(static_cast<int>(argv.size()), argv.data(), &g_runOptions);
  return {rc, testing::internal::GetCapturedStdout()};
}

struct OptionCase {
  std::vector<std::string> words;
  int rc;
  std::string console;
};

void PrintTo(const OptionCase& c, std::ostream* os) {
  for (const auto& w : c.words) *os << w << ' ';
}

class OptionTable : public ::testing::TestWithParam<OptionCase> {};

}  // namespace

TEST_P(OptionTable, AcceptsOrRefusesWithExactText) {
  const OptionCase& c = GetParam();
  const ParseResult r = Parse(c.words);
  EXPECT_EQ(r.rc, c.rc);
  EXPECT_EQ(r.console, c.console);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionTable,
    ::testing::Values(
        OptionCase{{}, 0, ""}, OptionCase{{"-config"}, 0, "Quorvane User Configuration\n\n"},
        OptionCase{{"-local"}, 0, "Using local directory for work files\n"},
        OptionCase{{"-delete"}, -1, "Error: -delete must be followed by an argument\n"},
        OptionCase{{"-delete", "10"}, -1, "Error: Argument to -delete out of range. Must be <10"},
        OptionCase{{"-delete", "-1"}, -1, "Error: Argument to -delete out of range. Must be <10"},
        OptionCase{{"-delete", "9"}, 0, ""},
        OptionCase{{"-delete", "abc"}, -1, "Error: Argument to -delete out of range. Must be <10"},
        OptionCase{{"-delete", "all"}, -1, "Error: Argument to -delete out of range. Must be <10"},
        OptionCase{{"-delete", "2x"}, -1, "Error: Argument to -delete out of range. Must be <10"},
        OptionCase{{"-verbosity"}, -1, "Error: -verbosity must be followed by an argument\n"},
        OptionCase{{"-verbosity", "0"}, -1, "Error: Verbosity must be between 1 (min) and 9 (max)"},
        OptionCase{{"-verbosity", "10"}, -1, "Error: Verbosity must be between 1 (min) and 9 (max)"},
        OptionCase{{"-verbosity", "9"}, 0, ""},
        OptionCase{{"-send"}, -1, "Error: -send must be followed by an argument\n"},
        OptionCase{{"-CONFIG"}, -1, "Bad argument: -CONFIG\n"},
        OptionCase{{"-configure"}, -1, "Bad argument: -configure\n"},
        OptionCase{{"-help"}, -1, "Bad argument: -help\n"},
        OptionCase{{"-pause", "extra"}, -1, "Bad argument: extra\n"}));

TEST(Options, SetEveryFlagSilently) {
  const ParseResult r =
      Parse({"-betateam", "-internal", "-freeBSD", "-forceasm", "-advmethods", "-pause", "-verbosity", "7"});
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(g_settings.betaTeam, 1);
  EXPECT_EQ(g_settings.internal, 1);
  EXPECT_EQ(g_settings.freeBsdBranding, 1u);
  EXPECT_EQ(g_settings.forceAssembly, 1u);
  EXPECT_EQ(g_settings.advancedMethods, 1);
  EXPECT_EQ(g_settings.pauseAfterUnit, 1u);
  EXPECT_EQ(g_settings.verbosity, 7u);
  EXPECT_EQ(g_runOptions.mode, RunMode::Run);
}

TEST(Options, SendTakesAllOrASlot) {
  ASSERT_EQ(Parse({"-send", "all"}).rc, 0);
  EXPECT_EQ(g_runOptions.mode, RunMode::SendResults);
  EXPECT_EQ(g_runOptions.sendAll, 1u);
  ASSERT_EQ(Parse({"-send", "3"}).rc, 0);
  EXPECT_EQ(g_runOptions.sendAll, 0u);
  EXPECT_EQ(g_runOptions.sendUnitNumber, 3u);
  // The word after -send is its argument, whatever it looks like.
  ASSERT_EQ(Parse({"-send", "-pause"}).rc, 0);
  EXPECT_EQ(g_settings.pauseAfterUnit, 0u);
  EXPECT_GT(g_runOptions.sendUnitNumber, 9u);  // a leading "-" cannot be read: refused later, not slot 0
  for (const char* notANumber : {"abc", "All", "3x", ""}) {
    ASSERT_EQ(Parse({"-send", notANumber}).rc, 0);
    EXPECT_GT(g_runOptions.sendUnitNumber, 9u) << notANumber;  // refused later, never slot 0
  }
}

TEST(Options, LastModeWins) {
  ASSERT_EQ(Parse({"-queueinfo", "-config"}).rc, 0);
  EXPECT_EQ(g_runOptions.mode, RunMode::Configure);
  ASSERT_EQ(Parse({"-config", "-queueinfo"}).rc, 0);
  EXPECT_EQ(g_runOptions.mode, RunMode::QueueInfo);
  ASSERT_EQ(Parse({"-delete", "4", "-delete", "9"}).rc, 0);
  EXPECT_EQ(g_runOptions.mode, RunMode::DeleteUnit);
  EXPECT_EQ(g_runOptions.unitNumber, 9u);
}

TEST(Options, FailedVerbosityConversionKeepsThePreviousValue) {
  ASSERT_EQ(Parse({"-verbosity", "5", "-verbosity", "-2"}).rc, 0);
  EXPECT_EQ(g_settings.verbosity, 5u);
}

TEST(ProgramName, IsTheLastPathComponent) {
  EXPECT_STREQ(ProgramNameFromPath("/usr/local/bin/client"), "client");
  EXPECT_STREQ(ProgramNameFromPath("C:\\dir\\qvn.exe"), "qvn.exe");
  EXPECT_STREQ(ProgramNameFromPath("plain"), "plain");
  EXPECT_STREQ(ProgramNameFromPath(nullptr), "qvn3");
}

TEST(Usage, NamesTheProgramAndEveryListedMode) {
  ResetProcessSettings();
  g_settings.programName = "client";
  testing::internal::CaptureStdout();
  PrintUsage();
  const std::string usage = testing::internal::GetCapturedStdout();
  EXPECT_EQ(usage.rfind("Quorvane Version 3.25\nUsage:   client [-mode]\n\nmodes:\n  -config      Configure", 0), 0u);
  EXPECT_NE(usage.find("  -freeBSD     Make brandelf system call on downloaded cores.\n\n"), std::string::npos);
  EXPECT_EQ(usage.find("-betateam"), std::string::npos);
}
