// Loading client.cfg: derived settings, proxy rules, identity, defaults and the completed-unit count.
#include <gtest/gtest.h>

#include <string>

#include "base/log.h"
#include "state/client_config.h"
#include "state/identity.h"
#include "support/temp_dir.h"

namespace {

class ClientConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    LogSetConsoleEcho(1);
    LogResetLineStart();
    WriteText("machinedependent.dat", std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  }
  void TearDown() override { v3ConfigFree(&g_config); }
  // Loads the given client.cfg; returns the code and keeps the console text.
  int Load(const std::string& config) {
    WriteText("client.cfg", config);
    testing::internal::CaptureStdout();
    const int rc = LoadClientSettings();
    console = testing::internal::GetCapturedStdout();
    return rc;
  }
  TempDir dir{true};
  std::string console;
};

}  // namespace

TEST_F(ClientConfigTest, DerivesSettingsByLeadingCharacters) {
  ASSERT_EQ(Load("[settings]\nasknet=yesplease\nmachineid=4\n[http]\nactive=no\n[core]\npriority=96\ncpuusage=80\n"
                 "disableassembly=Yup\nignoredeadlines=nope\n[clienttype]\ntype=2\n"),
            0);
  EXPECT_TRUE(g_clientSettings.askBeforeConnecting);
  EXPECT_FALSE(g_clientSettings.connectionOpen);
  EXPECT_EQ(g_clientSettings.corePriority, 96);
  EXPECT_EQ(g_clientSettings.cpuUsage, 80);
  EXPECT_FALSE(g_clientSettings.useAssembly);
  EXPECT_TRUE(g_clientSettings.honourDeadlines);
  EXPECT_EQ(g_clientSettings.clientType, 2);
  EXPECT_EQ(g_machineId, 4u);
  EXPECT_EQ(g_userId, 0x0807060504030201ULL);
  EXPECT_NE(console.find("- Ask before connecting: Yes\n"), std::string::npos);
  EXPECT_NE(console.find("- User ID = 807060504030201\n"), std::string::npos);
  EXPECT_NE(console.find("- Machine ID: 4\n"), std::string::npos);

  ASSERT_EQ(Load("[settings]\nasknet=Yes\n[http]\nactive=no\n"), 0);
  EXPECT_FALSE(g_clientSettings.askBeforeConnecting);  // a capital Y is not "yes"
  EXPECT_TRUE(g_clientSettings.connectionOpen);
  EXPECT_EQ(g_clientSettings.cpuUsage, 100);
  EXPECT_TRUE(g_clientSettings.useAssembly);
  EXPECT_EQ(g_clientSettings.clientType, 0);
}

TEST_F(ClientConfigTest, InvalidMachineIdBecomesOneAndIsSaved) {
  ASSERT_EQ(Load("[settings]\nmachineid=10\n[http]\nactive=no\n"), 0);  // hexadecimal 16
  EXPECT_EQ(g_machineId, 1u);
  EXPECT_EQ(ReadText("client.cfg"), "[settings]\nmachineid=1\n\n[http]\nactive=no\n\n");
}

TEST_F(ClientConfigTest, MissingHttpActiveIsWrittenAsNo) {
  ASSERT_EQ(Load("[settings]\nusername=Ann\nteam=7\n"), 0);
  EXPECT_NE(console.find("- User name: Ann (Team 7)\n"), std::string::npos);
  EXPECT_EQ(ReadText("client.cfg"), "[settings]\nusername=Ann\nteam=7\nmachineid=1\n\n[http]\nactive=no\n\n");
}

TEST_F(ClientConfigTest, ProxyWithoutPortFailsAfterNamingTheHost) {
  EXPECT_EQ(Load("[settings]\n[http]\nactive=yes\nhost=localhost\n"), -1);
  EXPECT_NE(console.find("- Proxy: localhost+ Bad proxy settings. Please reconfigure\n"), std::string::npos)
      << console;
  EXPECT_EQ(Load("[settings]\n[http]\nactive=yes\n"), -1);
  EXPECT_NE(console.find("Bad proxy settings. Use qvn3 -config to reconfigure\n"), std::string::npos);
}

TEST_F(ClientConfigTest, ProxyCredentials) {
  ASSERT_EQ(Load("[settings]\n[http]\nactive=yes\nhost=localhost\nport=3128\n"), 0);
  EXPECT_EQ(g_clientSettings.proxyAddress, 0x7F000001u);
  EXPECT_EQ(g_clientSettings.proxyPort, 3128);
  EXPECT_NE(console.find("- Proxy: localhost:3128\n"), std::string::npos) << console;
  EXPECT_NE(ReadText("client.cfg").find("usepasswd=no\n"), std::string::npos);
  EXPECT_STREQ(g_clientSettings.proxyUser, "");

  ASSERT_EQ(Load("[settings]\n[http]\nactive=yes\nhost=localhost\nport=70000\nusepasswd=yes\nproxy_name=me\n"
                 "proxy_passwd=secret\n"),
            0);
  EXPECT_EQ(g_clientSettings.proxyPort, 70000 & 0xFFFF);
  EXPECT_STREQ(g_clientSettings.proxyUser, "me");
  EXPECT_STREQ(g_clientSettings.proxyPassword, "secret");
  EXPECT_NE(console.find("- Proxy password enabled\n"), std::string::npos);

  ASSERT_EQ(Load("[settings]\n[http]\nactive=yes\nhost=localhost\nport=1\nusepasswd=no\n"), 0);
  EXPECT_STREQ(g_clientSettings.proxyUser, "");
  EXPECT_STREQ(g_clientSettings.proxyPassword, "");
}

TEST_F(ClientConfigTest, ShortUserIdFileCountsAsMissing) {
  WriteText("machinedependent.dat", "1234567");
  g_settings.verbosity = 4;
  EXPECT_EQ(Load("[settings]\n[http]\nactive=no\n"), -1);
  EXPECT_NE(console.find("- User ID not found locally\n"), std::string::npos);
  EXPECT_NE(console.find("- Fatal: Could not get new user ID\n"), std::string::npos);
  EXPECT_EQ(ReadText("machinedependent.dat"), "1234567");
}

TEST_F(ClientConfigTest, UserIdFileIsReplacedWhole) {
  const u8 id[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  ASSERT_EQ(SaveUserId(id), 0);
  EXPECT_EQ(ReadText("machinedependent.dat"), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
  u8 back[8];
  ASSERT_EQ(LoadUserId(back), 0);
  EXPECT_EQ(back[0], 8);
}

TEST_F(ClientConfigTest, MissingFileFailsAndDefaultsKeepTheUsersOwnValues) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(LoadClientSettings(), -1);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(WriteDefaultSettings(), 0);
  EXPECT_EQ(ReadText("client.cfg"),
            "[settings]\nusername=Anonymous\nteam=0\nasknet=no\n\n[http]\nactive=no\nhost=localhost\nport=8080\n\n");

  WriteText("client.cfg",
            "[settings]\nusername=Ann\nteam=7\nasknet=yes\n\n[http]\nactive=yes\nhost=proxy\nport=1\nproxy_name=me\n\n"
            "[core]\npriority=96\n\n");
  const std::string chosen = ReadText("client.cfg");
  ASSERT_EQ(WriteDefaultSettings(), 0);  // as after a failed user-ID request: the user's choices stay
  EXPECT_EQ(ReadText("client.cfg"), chosen);

  WriteText("client.cfg", "[settings]\nusername=Ann\n\n[http]\nactive=yes\n\n");
  ASSERT_EQ(WriteDefaultSettings(), 0);  // only the absent keys get their defaults
  EXPECT_EQ(ReadText("client.cfg"),
            "[settings]\nusername=Ann\nasknet=no\n\n[http]\nactive=yes\nhost=localhost\nport=8080\n\n");
}

TEST_F(ClientConfigTest, CompletedUnitsCountFromOne) {
  ASSERT_EQ(Load("[settings]\n[http]\nactive=no\n"), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(CountCompletedUnit(), 0);
  EXPECT_NE(ReadText("client.cfg").find("local=1\n"), std::string::npos);
  EXPECT_EQ(CountCompletedUnit(), 0);
  EXPECT_NE(ReadText("client.cfg").find("local=2\n"), std::string::npos);
  EXPECT_EQ(CountCompletedUnit(), 0);
  EXPECT_NE(ReadText("client.cfg").find("local=3\n"), std::string::npos);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("+ Starting local stats count at 1\n"), std::string::npos);
  EXPECT_NE(out.find("+ Number of Units Completed: 3\n"), std::string::npos);
}
