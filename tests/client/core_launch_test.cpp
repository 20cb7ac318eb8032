// The core's command line and the unit status file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/settings.h"
#include "client/core_flags.h"
#include "client/core_launch.h"
#include "client/unit_progress.h"
#include "runtime/process.h"
#include "state/client_config.h"
#include "support/temp_dir.h"

namespace {

std::string Line(u32 cleanUp = 0, const char* core = "QvnCore_65.exe", const char* nn = "00") {
  char line[kCommandLineCapacity];
  BuildCoreCommandLine(line, core, "work/", nn, cleanUp);
  return line;
}

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    g_clientSettings.corePriority = 0;
    g_clientSettings.cpuUsage = 100;
    g_clientSettings.useAssembly = true;
    g_restartFlag = 0;
    lifeline = " -lifeline " + std::to_string(v3ProcessId()) + "\n";
  }
  std::string lifeline;
};

}  // namespace

TEST_F(CommandLine, DefaultsAddNothing) {
  EXPECT_EQ(Line(), "./QvnCore_65.exe -dir work/ -suffix 00" + lifeline);
}

TEST_F(CommandLine, OptionalFlagsComeInTheirFixedOrder) {
  g_clientSettings.corePriority = 96;
  g_clientSettings.cpuUsage = 80;
  g_clientSettings.useAssembly = false;
  g_restartFlag = 1;
  g_settings.forceAssembly = 1;
  EXPECT_EQ(Line(1, "QvnCore_65.exe", "03"), "./QvnCore_65.exe -dir work/ -suffix 03 -cleanup -priority 96 -cpu 80 "
                                             "-noassembly -notermcheck -forceasm" + lifeline);
  // the restart flag went to exactly one launch
  EXPECT_EQ(Line(0, "QvnCore_65.exe", "03"),
            "./QvnCore_65.exe -dir work/ -suffix 03 -priority 96 -cpu 80 -noassembly -forceasm" + lifeline);
}

TEST_F(CommandLine, NeverExceeds374Characters) {
  const std::string core(360, 'c');
  const std::string line = Line(1, core.c_str());
  EXPECT_EQ(line.size(), 374u);
  EXPECT_EQ(line.substr(0, 2 + 360), "./" + core);
}

namespace {

std::string UnitInfo(u32 total, u32 completed, bool withDeadline) {
  u8 info[kUnitInfoSize] = {};
  std::strcpy(reinterpret_cast<char*>(info + 4), "p1234_demo");
  std::memcpy(info + 84, &total, 4);
  std::memcpy(info + 88, &completed, 4);
  const v3Time received{850003198, 0};
  const v3Time deadline{850003198 + 86400 * 60, 0};
  WriteUnitInfo(info, received, withDeadline ? &deadline : nullptr);
  return ReadText("unitinfo.txt");
}

}  // namespace

TEST(UnitInfo, ShowsNameTimesAndAProgressBar) {
  TempDir dir(true);
  EXPECT_EQ(UnitInfo(1000, 500, true),
            "Current Work Unit\n-----------------\nName: p1234_demo\nDownload time: December 7 23:59:58\n"
            "Due time: Feburary 5 23:59:58\nProgress: 50%  [|||||_____]\n");
  const struct {
    u32 total, completed;
    const char* progress;
  } cases[] = {{1000, 0, "Progress: 0%  [__________]\n"},
               {1000, 999, "Progress: 99%  [|||||||||_]\n"},
               {1000, 1000, "Progress: 100%  [||||||||||]\n"},
               {1000, 1500, "Progress: 100%  [||||||||||]\n"},  // more done than in total: clamped
               {1, 0xFFFFFFFF, "Progress: 100%  [||||||||||]\n"},
               {0, 7, "Progress: 0%  [__________]\n"}};
  for (const auto& c : cases) {
    const std::string text = UnitInfo(c.total, c.completed, false);
    EXPECT_EQ(text.substr(text.find("Progress")), c.progress) << c.completed;
    EXPECT_EQ(text.find("Due time"), std::string::npos);
  }
}
