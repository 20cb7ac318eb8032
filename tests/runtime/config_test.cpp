// Configuration documents: the reader's odd inputs, prefix lookups, set cases, the written form.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/config.h"
#include "runtime/file.h"
#include "support/temp_dir.h"

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void TearDown() override { v3ConfigFree(&doc); }
  int Load(const std::string& text) {
    WriteText(dir.Path("c.cfg"), text);
    return v3ConfigLoad(&doc, dir.Path("c.cfg").c_str());
  }
  std::string Saved() {
    EXPECT_EQ(v3ConfigSave(&doc, dir.Path("out.cfg").c_str()), 0);
    return ReadText(dir.Path("out.cfg"));
  }
  std::string Get(const char* section, const char* key) {
    const char* v = v3ConfigGet(&doc, section, key);
    return v == nullptr ? "<null>" : v;
  }
  TempDir dir;
  ConfigFile doc{};
};

struct ReaderCase {
  const char* name;
  std::string text;
  std::string saved;  // the document as the writer writes it back
};

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

class ReaderTable : public ConfigTest, public ::testing::WithParamInterface<ReaderCase> {};

}  // namespace

TEST_P(ReaderTable, ReadsWhatTheFormatSays) {
  const ReaderCase& c = GetParam();
  ASSERT_EQ(Load(c.text), 0);
  EXPECT_EQ(Saved(), c.saved);
}

INSTANTIATE_TEST_SUITE_P(
    OddInputs, ReaderTable,
    ::testing::Values(
        ReaderCase{"plain", "[settings]\nusername=Anonymous\nteam=0\n\n[http]\nactive=no\n",
                   "[settings]\nusername=Anonymous\nteam=0\n\n[http]\nactive=no\n\n"},
        ReaderCase{"text before the first section is ignored", "junk=1\n[a]\nk=v\n", "[a]\nk=v\n\n"},
        ReaderCase{"an empty line after a header is skipped", "[a]\n\nk=v\n", "[a]\nk=v\n\n"},
        ReaderCase{"CR LF line ends: the CR belongs to neither key nor value", "[a]\r\nk=v\r\n\r\n[b]\r\nj=w\r\n",
                   "[a]\nk=v\n\n[b]\nj=w\n\n"},
        ReaderCase{"spaces around = stay", "[a]\nkey = value\n", "[a]\nkey = value\n\n"},
        ReaderCase{"a last line without a line feed is read", "[a]\nk=v\nlast=x", "[a]\nk=v\nlast=x\n\n"},
        ReaderCase{"only the first = splits", "[a]\nurl=http://h/?a=b\n", "[a]\nurl=http://h/?a=b\n\n"},
        ReaderCase{"comment and blank lines are skipped", "[a]\nk=v\n# note\n\nj=w\n[b]\nx=y\n",
                   "[a]\nk=v\nj=w\n\n[b]\nx=y\n\n"},
        ReaderCase{"a [ inside the line without = still opens a section", "[a]\nk=v\nnote [b]\nx=y\n",
                   "[a]\nk=v\n\n[b]\nx=y\n\n"},
        ReaderCase{"empty lines after an entry are skipped", "[a]\nk=v\n\n\nj=w\n", "[a]\nk=v\nj=w\n\n"},
        ReaderCase{"[ without ]", "[a]\nk=v\n[broken\nj=w\n", "[a]\nk=v\n\n"},
        ReaderCase{"] before the first [ is not a name end", "x]y\n[a]\nk=v\n", "[a]\nk=v\n\n"},
        ReaderCase{"one byte", "[", ""}, ReaderCase{"header at the very end", "[a]", ""},
        ReaderCase{"no line feed at all", "[a] k=v", "[a]\nk=v\n\n"},
        ReaderCase{"NUL inside a line ends the reading", std::string("[a]\nk=v\nj=w\0x\nz=1\n", 18),
                   "[a]\nk=v\n\n"},
        ReaderCase{"NUL before any section", std::string("\0[a]\nk=v\n", 9), ""}));

TEST_F(ConfigTest, EmptyOrMissingFile) {
  EXPECT_EQ(Load(""), -1);
  EXPECT_EQ(v3ConfigLoad(&doc, dir.Path("missing.cfg").c_str()), -2);
  EXPECT_EQ(v3ConfigLoad(&doc, nullptr), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "s", "k", "v"), 0);
  EXPECT_EQ(v3ConfigLoad(&doc, nullptr), -1);
  EXPECT_EQ(v3ConfigLoad(&doc, dir.Path("missing.cfg").c_str()), -2);
  EXPECT_EQ(Get("s", "k"), "v");  // a failed open leaves the document as it was
}

TEST_F(ConfigTest, LookupsMatchByPrefix) {
  ASSERT_EQ(Load("[settings]\nusername=Ann\n[core]\nuser=x\nkey =spaced\n"), 0);
  EXPECT_EQ(Get("settings", "user"), "Ann");
  EXPECT_EQ(Get("set", "username"), "Ann");
  EXPECT_EQ(Get("settingsX", "username"), "<null>");
  EXPECT_EQ(Get("core", "username"), "<null>");
  EXPECT_EQ(Get("core", "key"), "spaced");
  EXPECT_EQ(Get("core", "key "), "spaced");
  EXPECT_EQ(v3ConfigGet(nullptr, "a", "b"), nullptr);
}

TEST_F(ConfigTest, SetGetReplaceAndRoundTrip) {
  ASSERT_EQ(v3ConfigSet(&doc, "one", "alpha", "first value"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "one", "beta", "second value"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "two", "gamma", "third value"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "two", "delta", "fourth value"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "one", "alpha", "a much longer first value than before"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "two", "gamma", "3"), 0);
  EXPECT_EQ(Get("one", "alpha"), "a much longer first value than before");
  EXPECT_EQ(Get("one", "beta"), "second value");
  EXPECT_EQ(Get("two", "gamma"), "3");
  EXPECT_EQ(Get("two", "delta"), "fourth value");

  const std::string saved = Saved();
  EXPECT_EQ(saved,
            "[one]\nalpha=a much longer first value than before\nbeta=second value\n\n"
            "[two]\ngamma=3\ndelta=fourth value\n\n");
  v3ConfigFree(&doc);
  ASSERT_EQ(v3ConfigLoad(&doc, dir.Path("out.cfg").c_str()), 0);
  EXPECT_EQ(Get("one", "alpha"), "a much longer first value than before");
  EXPECT_EQ(Get("two", "gamma"), "3");

  // Values read from the file: shorter in place, longer into a block of their own, and back again.
  ASSERT_EQ(v3ConfigSet(&doc, "one", "alpha", "first value"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "two", "gamma", "third value"), 0);
  EXPECT_EQ(Get("one", "alpha"), "first value");
  EXPECT_EQ(Get("two", "gamma"), "third value");
  EXPECT_EQ(Get("two", "delta"), "fourth value");
  ASSERT_EQ(v3ConfigSet(&doc, "two", "delta", nullptr), 0);
  EXPECT_EQ(Get("two", "delta"), "<null>");
  EXPECT_EQ(Saved(), "[one]\nalpha=first value\nbeta=second value\n\n[two]\ngamma=third value\n\n");
}

TEST_F(ConfigTest, DeletedEntriesComeBackAndEmptySectionsAreNotWritten) {
  ASSERT_EQ(Load("[a]\nk=value\n[b]\nx=1\n"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "b", "x", nullptr), 0);
  EXPECT_EQ(Saved(), "[a]\nk=value\n\n");
  ASSERT_EQ(v3ConfigSet(&doc, "a", "k", nullptr), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "a", "k", "v2"), 0);  // revived in place in the file text
  EXPECT_EQ(Get("a", "k"), "v2");
  ASSERT_EQ(v3ConfigSet(&doc, "new", "n", "1"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "new", "n", nullptr), 0);  // an owned entry deleted
  ASSERT_EQ(v3ConfigSet(&doc, "new", "n", "2"), 0);
  EXPECT_EQ(Get("new", "n"), "2");
  EXPECT_EQ(Saved(), "[a]\nk=v2\n\n[new]\nn=2\n\n");
  EXPECT_EQ(v3ConfigSet(&doc, "none", "k", nullptr), 0);  // nothing to delete, nothing made
  EXPECT_EQ(Saved(), "[a]\nk=v2\n\n[new]\nn=2\n\n");
}

TEST_F(ConfigTest, PrefixMatchedSetNeverWritesPastTheStoredValue) {
  ASSERT_EQ(Load("[s]\nusername=\nnext=kept\n"), 0);
  // Counted with the short requested key the value would seem to fit where the stored one was: it does not.
  ASSERT_EQ(v3ConfigSet(&doc, "s", "u", "abcdef"), 0);
  EXPECT_EQ(Get("s", "u"), "abcdef");
  EXPECT_EQ(Get("s", "next"), "kept");
  ASSERT_EQ(Load("[s]\nusername=12345678\nnext=kept\n"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "s", "user", "x"), 0);  // fits: in place, the stored key stays
  EXPECT_EQ(Get("s", "username"), "x");
  ASSERT_EQ(v3ConfigSet(&doc, "new", "username", "12345678"), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "new", "u", "a value much longer than before"), 0);  // owned block grows
  EXPECT_EQ(Get("new", "username"), "a value much longer than before");
  EXPECT_EQ(Get("s", "next"), "kept");
}

TEST_F(ConfigTest, NullArgumentsAndLockedSave) {
  EXPECT_EQ(v3ConfigSet(nullptr, "a", "b", "c"), -1);
  EXPECT_EQ(v3ConfigSet(&doc, nullptr, "b", "c"), -1);
  EXPECT_EQ(v3ConfigSet(&doc, "a", nullptr, "c"), -1);
  EXPECT_EQ(v3ConfigSave(nullptr, "x"), -1);
  EXPECT_EQ(v3ConfigSave(&doc, nullptr), -1);
  ASSERT_EQ(v3ConfigSet(&doc, "a", "b", "c"), 0);
  RuntimeFile reader{};
  WriteText(dir.Path("busy.cfg"), "[a]\n");
  ASSERT_EQ(v3FileOpen(&reader, dir.Path("busy.cfg").c_str(), V3_FILE_READ, V3_LOCK_SHARED), 0);
  EXPECT_EQ(v3ConfigSave(&doc, dir.Path("busy.cfg").c_str()), -6);
  v3FileClose(&reader);
  EXPECT_EQ(ReadText(dir.Path("busy.cfg")), "[a]\n");
}

TEST_F(ConfigTest, FailedWritesAreReportedAndLeaveTheOldFileWhole) {
  const std::string old = "[settings]\nusername=Ann\nteam=7\n\n";
  WriteText(dir.Path("full.cfg"), old);
  ASSERT_EQ(v3ConfigSet(&doc, "a", "b", "c"), 0);
  const FilePlatform full{[](int, const void*, u64) -> long {
                            errno = ENOSPC;
                            return -1;
                          },
                          [](int) { return 0; }};
  const FilePlatform failedSync{[](int fd, const void* data, u64 count) { return ::write(fd, data, count); },
                                [](int) {
                                  errno = EIO;
                                  return -1;
                                }};
  for (const FilePlatform* platform : {&full, &failedSync}) {
    v3FileSetPlatform(platform);
    const int rc = v3ConfigSave(&doc, dir.Path("full.cfg").c_str());
    v3FileSetPlatform(nullptr);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(ReadText(dir.Path("full.cfg")), old);
  }
}

TEST_F(ConfigTest, SaveKeepsTheLockThatKeepsTwoWritersApart) {
  WriteText(dir.Path("c.cfg"), "[a]\nk=v\n\n");
  RuntimeFile other{};
  ASSERT_EQ(v3FileOpen(&other, dir.Path("c.cfg").c_str(), V3_FILE_WRITE, V3_LOCK_EXCLUSIVE), 0);
  ASSERT_EQ(v3ConfigSet(&doc, "a", "k", "w"), 0);
  EXPECT_EQ(v3ConfigSave(&doc, dir.Path("c.cfg").c_str()), V3_FILE_EEXCLUSIVE);
  v3FileClose(&other);
  EXPECT_EQ(ReadText(dir.Path("c.cfg")), "[a]\nk=v\n\n");
  ASSERT_EQ(v3ConfigSave(&doc, dir.Path("c.cfg").c_str()), 0);
  EXPECT_EQ(ReadText(dir.Path("c.cfg")), "[a]\nk=w\n\n");
}

TEST_F(ConfigTest, KillDuringSavesAlwaysLeavesAWholeFile) {
  const std::string path = dir.Path("client.cfg");
  ASSERT_EQ(v3ConfigSet(&doc, "settings", "username", "Volunteer"), 0);
  ASSERT_EQ(v3ConfigSave(&doc, path.c_str()), 0);
  int interrupted = 0;  // rounds whose kill left a save's temporary behind: it landed inside a save
  int saved = 0;        // rounds that found a save of the child's complete
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Every save writes one counter into both keys and a long value, so a torn file would show it.
      char value[32];
      for (unsigned counter = 1;; ++counter) {
        std::snprintf(value, sizeof value, "%u", counter);
        if (v3ConfigSet(&doc, "settings", "a", value) != 0 || v3ConfigSet(&doc, "settings", "b", value) != 0 ||
            v3ConfigSet(&doc, "http", "padding", std::string(2000 + counter % 500, 'x').c_str()) != 0 ||
            v3ConfigSave(&doc, path.c_str()) != 0) {
          _exit(3);
        }
      }
    }
    usleep(2000 + round * 1500);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    struct stat st;
    if (stat((path + ".new").c_str(), &st) == 0) ++interrupted;
    ConfigFile loaded{};
    ASSERT_EQ(v3ConfigLoad(&loaded, path.c_str()), 0) << "round " << round;
    EXPECT_STREQ(v3ConfigGet(&loaded, "settings", "username"), "Volunteer") << "round " << round;
    const char* a = v3ConfigGet(&loaded, "settings", "a");
    const char* b = v3ConfigGet(&loaded, "settings", "b");
    if (a != nullptr || b != nullptr) {
      ASSERT_NE(a, nullptr);
      ASSERT_NE(b, nullptr);
      EXPECT_STREQ(a, b) << "round " << round;
      const char* padding = v3ConfigGet(&loaded, "http", "padding");
      ASSERT_NE(padding, nullptr) << "round " << round;
      EXPECT_EQ(std::string(padding).size(), 2000 + std::strtoul(a, nullptr, 10) % 500) << "round " << round;
      ++saved;
    }
    v3ConfigFree(&loaded);
  }
  // Otherwise the loop proves nothing: every kill could have come before the first save or between two.
  EXPECT_GT(interrupted, 0);
  EXPECT_GT(saved, 0);
}
