// The configuration dialogue driven through a pipe: prompts, stored answers, the written file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/log.h"
#include "state/client_config.h"
#include "state/dialogue.h"
#include "support/console_pipe.h"
#include "support/temp_dir.h"

namespace {

class DialogueTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcessSettings(); }
  void TearDown() override { v3ConfigFree(&g_config); }
  std::string Run(const std::string& answers) {
    ConsolePipe console(answers);
    ConfigureInteractively();
    return console.Output();
  }
  TempDir dir{true};
};

struct MatchCase {
  const char* current;
  const char* answer;
  int accepted;
  const char* result;
};

}  // namespace

TEST(MatchAnswer, AcceptsLettersPrefixesAndTheCurrentValue) {
  const MatchCase cases[] = {
      {nullptr, "y", 1, "yes"},      {nullptr, "Y", 1, "yes"},     {nullptr, "YeS", 1, "yes"},
      {nullptr, "yesterday", 1, "yes"}, {nullptr, "ye", 0, ""},    {nullptr, "", 0, ""},
      {"no", "", 1, "no"},           {"whatever", "", 1, "whatever"}, {nullptr, "N", 1, "no"},
      {nullptr, "x", 0, ""},
  };
  for (const MatchCase& c : cases) {
    char answer[kAnswerCapacity];
    std::strcpy(answer, c.answer);
    EXPECT_EQ(MatchAnswer(c.current, answer, {"yes", "no"}), c.accepted) << c.answer;
    if (c.accepted) {
      EXPECT_STREQ(answer, c.result) << c.answer;
    }
  }
  char answer[kAnswerCapacity] = "z";
  EXPECT_EQ(MatchAnswer(nullptr, answer, {"no-pref", "qvn", "zel"}), 1);
  EXPECT_STREQ(answer, "zel");
  EXPECT_STREQ(ClientTypeName(1), "qvn");
  EXPECT_STREQ(ClientTypeName(0x10002), "zel");  // by the low 16 bits
  EXPECT_STREQ(ClientTypeName(7), "no-pref");
  EXPECT_EQ(ClientTypeFromName("zel"), 2);
  EXPECT_EQ(ClientTypeFromName("qvn"), 1);
  EXPECT_EQ(ClientTypeFromName("zelx"), 0);
}

TEST_F(DialogueTest, FirstRunWithProxyCredentialsAndAdvancedOptions) {
  const std::string out = Run(
      "Ann\n7\n"                       // user, team
      "maybe\nn\n"                     // asknet: refused once, then no
      "\ny\n"                          // proxy: empty repeats (nothing stored), then yes
      "proxy.local\n3128\nyes\nme\nsecret\n"
      "y\n"                            // advanced options
      "z\n"                            // client type zel
      "l\n"                            // priority low
      "\n"                             // disable assembly: stored none -> no
      "YES\n"                          // ignore deadlines
      "7\n");                          // machine ID out of range -> 1
  EXPECT_EQ(out,
            "User Name? Team Number? "
            "Ask before fetching/sending work (yes/no)? Ask before fetching/sending work (yes/no)? "
            "Use proxy (yes/no)? Use proxy (yes/no)? "
            "Proxy Name? Proxy Port? Use username & password with proxy (yes/no)? Proxy Username? Proxy Password? "
            "Change advanced options [no] (yes/no)? "
            "Core Type [no-pref] (no-pref/qvn/zel)? Core Priority [idle] (idle/low)? "
            "Disable highly optimized assembly code [no] (no/yes)? "
            "Ignore deadline information (mainly useful if\n system clock frequently has errors)? [no] (no/yes)? "
            "Machine ID (1-4) [1]? ");
  EXPECT_EQ(ReadText("client.cfg"),
            "[settings]\nusername=Ann\nteam=7\nasknet=no\nmachineid=1\n\n"
            "[http]\nactive=yes\nhost=proxy.local\nport=3128\nusepasswd=yes\nproxy_name=me\nproxy_passwd=secret\n\n"
            "[clienttype]\ntype=2\n\n"
            "[core]\npriority=96\ndisableassembly=no\nignoredeadlines=yes\n\n");
}

TEST_F(DialogueTest, EnterKeepsStoredValuesAndNoSkipsTheRest) {
  WriteText("client.cfg",
            "[settings]\nusername=Anonymous\nteam=0\nasknet=no\nmachineid=3\n\n[http]\nactive=no\nhost=p\nport=1\n\n"
            "[clienttype]\ntype=1\n\n[core]\npriority=96\n\n");
  const std::string out = Run("\n\n\nno\nno\n");
  EXPECT_EQ(out,
            "User name [Anonymous]? Team Number[0]? Ask before fetching/sending work [no] (yes/no)? "
            "Use proxy [no] (yes/no)? Change advanced options [no] (yes/no)? ");
  EXPECT_EQ(ReadText("client.cfg"),
            "[settings]\nusername=Anonymous\nteam=0\nasknet=no\nmachineid=3\n\n[http]\nactive=no\nhost=p\nport=1\n\n"
            "[clienttype]\ntype=1\n\n[core]\npriority=96\n\n");
}

TEST_F(DialogueTest, StoredAdvancedValuesAreShownByName) {
  WriteText("client.cfg", "[settings]\nmachineid=2\n\n[clienttype]\ntype=1\n\n[core]\npriority=96\n\n");
  const std::string out = Run("\n\nno\nno\nyes\n\ni\n\n\nx\n");
  EXPECT_NE(out.find("Client Type [qvn] (no-pref/qvn/zel)? Core Priority [low] (idle/low)? "), std::string::npos)
      << out;
  EXPECT_NE(out.find("Machine ID (1-4) [2]? "), std::string::npos);
  const std::string cfg = ReadText("client.cfg");
  EXPECT_NE(cfg.find("type=1\n"), std::string::npos);
  EXPECT_NE(cfg.find("priority=0\n"), std::string::npos);
  EXPECT_NE(cfg.find("machineid=1\n"), std::string::npos);  // "x" is no machine ID
}

TEST_F(DialogueTest, CredentialsWithoutAUserNameStoreAnEmptyPassword) {
  const std::string out = Run("\n\nno\nyes\nhost\n8080\nyes\n\nno\n");
  EXPECT_NE(out.find("Proxy Username? Change advanced options"), std::string::npos) << out;
  EXPECT_NE(ReadText("client.cfg").find("usepasswd=yes\nproxy_passwd=\n"), std::string::npos);
}

TEST_F(DialogueTest, EndOfInputFinishesWithStoredValuesOrNo) {
  const std::string out = Run("");
  EXPECT_TRUE(DialogueInputEnded());
  EXPECT_EQ(out,
            "User Name? \nTeam Number? \nAsk before fetching/sending work (yes/no)? \nUse proxy (yes/no)? \n"
            "Change advanced options [no] (yes/no)? \n");
  EXPECT_EQ(ReadText("client.cfg"), "[settings]\nasknet=no\n\n[http]\nactive=no\n\n");
  WriteText("client.cfg", "[settings]\nasknet=yes\n\n[http]\nactive=no\n\n");
  Run("");
  EXPECT_EQ(ReadText("client.cfg"), "[settings]\nasknet=yes\n\n[http]\nactive=no\n\n");  // stored values kept
  // A hand-edited value far longer than an answer, met by an unmatched answer at the end of input, is
  // taken as far as an answer holds it.
  const std::string huge(601, 'y');
  WriteText("client.cfg", "[settings]\nasknet=" + huge + "\n\n[http]\nactive=no\n\n");
  Run("\n\nmaybe");
  EXPECT_NE(ReadText("client.cfg").find("asknet=" + huge.substr(0, kAnswerCapacity - 1) + "\n"), std::string::npos);
}
