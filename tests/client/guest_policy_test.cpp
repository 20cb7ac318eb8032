// The pause policy's pieces that need no core: the hysteresis, the allowed hours, and the [guest] keys.
#include <gtest/gtest.h>

#include <string>

#include "base/log.h"
#include "client/guest_policy.h"
#include "state/client_config.h"
#include "support/temp_dir.h"

TEST(GuestPolicy, PausesAtOnceAndResumesOnlyAfterAQuietSpell) {
  GuestPolicy policy;
  EXPECT_EQ(policy.Decide(nullptr, 0, 60000), GuestAction::None);
  EXPECT_EQ(policy.Decide("on battery", 1000, 60000), GuestAction::Pause);
  EXPECT_EQ(policy.Decide("busy", 2000, 60000), GuestAction::None);  // one change, one line
  EXPECT_EQ(policy.Decide(nullptr, 3000, 60000), GuestAction::None);
  EXPECT_EQ(policy.Decide("on battery", 50000, 60000), GuestAction::None);  // the reason came back: start over
  EXPECT_EQ(policy.Decide(nullptr, 51000, 60000), GuestAction::None);
  EXPECT_EQ(policy.Decide(nullptr, 110999, 60000), GuestAction::None);
  EXPECT_EQ(policy.Decide(nullptr, 111000, 60000), GuestAction::Resume);
  EXPECT_FALSE(policy.paused());
  EXPECT_EQ(policy.Decide(nullptr, 200000, 60000), GuestAction::None);
}

TEST(GuestPolicy, HoursMayWrapPastMidnight) {
  GuestSettings night{true, 0, 22, 7, 60};
  GuestSettings office{true, 0, 9, 17, 60};
  GuestSettings always{true, 0, -1, -1, 60};
  for (int hour = 0; hour < 24; ++hour) {
    EXPECT_EQ(OutsideHours(night, hour), hour >= 7 && hour < 22) << hour;
    EXPECT_EQ(OutsideHours(office, hour), hour < 9 || hour >= 17) << hour;
    EXPECT_FALSE(OutsideHours(always, hour)) << hour;
  }
  EXPECT_STREQ(GuestPauseReason({false, true, true}), "busy");
  EXPECT_EQ(GuestPauseReason({false, false, false}), nullptr);
}

TEST(GuestPolicy, BadValuesAreSaidOnceAndTheDefaultsKept) {
  TempDir dir{true};
  ResetProcessSettings();
  LogSetConsoleEcho(1);
  LogResetLineStart();
  const struct {
    const char* section;
    const char* log;  // empty: accepted
  } cases[] = {
      {"[guest]\non_battery=run\nbusy_percent=40\nhours=22-7\nresume_after=5\n", ""},
      {"[guest]\non_battery=maybe\n", "- Guest: on_battery=maybe is neither pause nor run; the core pauses on battery\n"},
      {"[guest]\nbusy_percent=101\n", "- Guest: busy_percent=101 is not 0 to 100; the core never pauses for load\n"},
      {"[guest]\nhours=7-7\n", "- Guest: hours=7-7 is not two different hours H-H; the core runs at any hour\n"},
      {"[guest]\nhours=25-3\n", "- Guest: hours=25-3 is not two different hours H-H; the core runs at any hour\n"},
      {"[guest]\nresume_after=soon\n",
       "- Guest: resume_after=soon is not 0 to 86400 seconds; the core resumes after 60\n"},
  };
  for (const auto& c : cases) {
    v3ConfigFree(&g_config);
    WriteText("client.cfg", c.section);
    ASSERT_EQ(v3ConfigLoad(&g_config, "client.cfg"), 0);
    testing::internal::CaptureStdout();
    LoadGuestSettings();
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.log[0] == '\0') {
      EXPECT_EQ(out, "");
      EXPECT_FALSE(g_guestSettings.pauseOnBattery);
      EXPECT_EQ(g_guestSettings.busyPercent, 40u);
      EXPECT_EQ(g_guestSettings.hoursFrom, 22);
      EXPECT_EQ(g_guestSettings.resumeAfterSeconds, 5u);
    } else {
      EXPECT_NE(out.find(c.log), std::string::npos) << out;
      EXPECT_TRUE(g_guestSettings.pauseOnBattery);
      EXPECT_EQ(g_guestSettings.busyPercent, 0u);
      EXPECT_EQ(g_guestSettings.hoursFrom, -1);
      EXPECT_EQ(g_guestSettings.resumeAfterSeconds, 60u);
    }
  }
  v3ConfigFree(&g_config);
}
