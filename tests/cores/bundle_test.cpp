// Core bundles against the verifier and the installer: the good bundle, every single forgery with its
// message, the request paths, and installation that never leaves a half-written core.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "base/log.h"
#include "build_config.h"
#include "cores/bundle_verify.h"
#include "cores/core_download.h"
#include "runtime/time.h"
#include "support/temp_dir.h"

#if !defined(QVN_MAKE_BUNDLE) || !defined(QVN_TEST_KEY_PRIVATE) || !defined(QVN_OTHER_KEY_PRIVATE)
#error "the bundle tests need the bundle maker and the test keys"
#endif

namespace {

constexpr s64 kTestKeyValidFrom = 800000000;  // the test key's valid-from, seconds after 2000-01-01

// A core that compresses a little, as real executables do.
std::string CoreImage() {
  std::string core = "\x7f" "ELF";
  for (u32 i = 0, x = 12345; i < 150000; ++i) {
    x = x * 1103515245 + 12345;
    core += static_cast<char>((i % 7 == 0) ? (x >> 16) : "quorvane"[i % 8]);
  }
  return core;
}

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QVN_CORE_KEY_IS_TEST) GTEST_SKIP() << "this build trusts another key than the tests sign with";
    ResetProcessSettings();
    LogSetConsoleEcho(1);
    LogResetLineStart();
    WriteText("core.bin", core_);
  }
  // Makes bundle.qvn with make_bundle.py, forged as named (empty: the good bundle), signed at signedAt
  // (0: a day after the key's valid-from).
  void Make(const std::string& forge, s64 signedAt = 0) {
    std::string command = std::string("python3 ") + QVN_MAKE_BUNDLE + " --private " + QVN_TEST_KEY_PRIVATE +
                          " --core core.bin --out bundle.qvn --other " + QVN_OTHER_KEY_PRIVATE;
    if (!forge.empty()) command += " --forge " + forge;
    if (signedAt != 0) command += " --time " + std::to_string(signedAt);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // UnzipCore with the console captured: (result, what it logged).
  std::pair<int, std::string> Unzip() {
    testing::internal::CaptureStdout();
    const int rc = UnzipCore(0x65, "bundle.qvn", "QvnCore_65.exe");
    return {rc, testing::internal::GetCapturedStdout()};
  }
  TempDir dir{true};
  const std::string core_ = CoreImage();
};

struct ForgeryCase {
  const char* forge;
  const char* message;
  bool oldCoreStays;  // a refused bundle leaves the old core; one that fails to unpack removes it
};

void PrintTo(const ForgeryCase& c, std::ostream* os) { *os << c.forge; }

class Forgeries : public BundleTest, public ::testing::WithParamInterface<ForgeryCase> {};

}  // namespace

TEST_F(BundleTest, TheGoodBundleInstallsAnExecutableCoreAndSaysWhenItWasSigned) {
  Make("");
  WriteText("QvnCore_65.exe", "the old core");
  const auto [rc, out] = Unzip();
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(ReadText("QvnCore_65.exe"), core_);
  struct stat st;
  ASSERT_EQ(stat("QvnCore_65.exe", &st), 0);
  EXPECT_EQ(st.st_mode & 0100, 0100u);
  EXPECT_NE(out.find("Verifying core bundle.qvn...\n"), std::string::npos);
  // the test key is valid from 800000000 s after 2000-01-01; the bundle was signed a day later
  EXPECT_NE(out.find("Signature is VALID\n"), std::string::npos);
  EXPECT_NE(out.find("Created: Thursday May 8, 2025 06:13:20 UTC\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Signed: Friday May 9, 2025 06:13:20 UTC\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Trying to unzip core QvnCore_65.exe\n"), std::string::npos);
  EXPECT_NE(out.find("Decompressed QvnCore_65.exe (" + std::to_string(core_.size()) + " bytes) successfully\n"),
            std::string::npos);
  EXPECT_EQ(ReadText("QvnCore_65.exe.new"), "");  // no temporary left behind
  EXPECT_EQ(VerifyCoreBundle("bundle.qvn"), 0);     // the bundle itself is not changed
  EXPECT_EQ(st.st_mode & 0027, 0u) << "a core is neither written by its group nor run by others";
  // Bytes after the signature are not examined.
  Make("extra-after-signature");
  const auto [extraRc, extraOut] = Unzip();
  EXPECT_EQ(extraRc, 0) << extraOut;
  EXPECT_EQ(ReadText("QvnCore_65.exe"), core_);
}

TEST_P(Forgeries, AreRefusedWithTheirMessage) {
  const ForgeryCase& c = GetParam();
  Make(c.forge);
  WriteText("QvnCore_65.exe", "the old core");
  const auto [rc, out] = Unzip();
  EXPECT_EQ(rc, -1);
  EXPECT_NE(out.find(c.message), std::string::npos) << out;
  EXPECT_EQ(out.find("Signature is VALID") != std::string::npos, !c.oldCoreStays) << out;
  struct stat st;
  if (c.oldCoreStays) {
    EXPECT_NE(out.find("Failed to verify core\n"), std::string::npos);
    EXPECT_EQ(ReadText("QvnCore_65.exe"), "the old core");
  } else {
    EXPECT_NE(stat("QvnCore_65.exe", &st), 0) << "a verified core that did not unpack is removed";
  }
  EXPECT_NE(stat("QvnCore_65.exe.new", &st), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EachSingleChange, Forgeries,
    ::testing::Values(
        ForgeryCase{"magic", "Bad file format for downloaded core bundle.\n", true},
        ForgeryCase{"payload-byte", "Signature is _NOT_ valid on given file.\n", true},
        ForgeryCase{"signature-byte", "Unable to decode signature from downloaded core file.\n", true},
        ForgeryCase{"other-key", "Unable to decode signature from downloaded core file.\n", true},
        ForgeryCase{"time-before-key", "Unable to decode signature from downloaded core file.\n", true},
        ForgeryCase{"time-after-key", "Unable to decode signature from downloaded core file.\n", true},
        ForgeryCase{"hash-code", "Signature is _NOT_ valid on given file.\n", true},
        ForgeryCase{"format-code", "Signature is _NOT_ valid on given file.\n", true},
        ForgeryCase{"record-header", "Invalid signature in downloaded core file.\n", true},
        ForgeryCase{"length-beyond-file", "Error reading signature from downloaded core file.\n", true},
        ForgeryCase{"signature-absurd", "Memory problems.\n", true},
        ForgeryCase{"truncate=0", "Could not read compressed core for verification.\n", true},
        ForgeryCase{"truncate=300", "Could not read compressed core for verification.\n", true},
        ForgeryCase{"truncate=2000", "Error reading signature from downloaded core file.\n", true},
        ForgeryCase{"truncate=-10", "Error reading signature from downloaded core file.\n", true},
        ForgeryCase{"not-bzip2", "UnzipCore: Couldn't v3Decompress\n", false},
        ForgeryCase{"empty-payload", "UnzipCore: Couldn't v3Decompress\n", false},  // L = 0 verifies, holds no core
        ForgeryCase{"incomplete-stream", "UnzipCore: Couldn't v3Decompress\n", false},
        ForgeryCase{"completed-after-signature", "UnzipCore: Couldn't v3Decompress\n", false}));

TEST_F(BundleTest, AnOlderSignedBundleNeverReplacesOrReinstallsANewerCore) {
  const std::string refusal = "Core was signed before the one already accepted for this core number.\n";
  Make("", kTestKeyValidFrom + 2 * 86400);
  ASSERT_EQ(Unzip().first, 0);
  // A man in the middle answers with an old bundle, validly signed, of a core with a known bug.
  WriteText("core.bin", "an old core with a known bug");
  Make("", kTestKeyValidFrom + 86400);
  auto [rc, out] = Unzip();
  EXPECT_EQ(rc, -1);
  EXPECT_NE(out.find(refusal), std::string::npos) << out;
  EXPECT_NE(out.find("Failed to verify core\n"), std::string::npos) << out;
  EXPECT_EQ(ReadText("QvnCore_65.exe"), core_);
  // The core went out of date and was deleted: the record outlives it.
  ASSERT_EQ(unlink("QvnCore_65.exe"), 0);
  std::tie(rc, out) = Unzip();
  EXPECT_EQ(rc, -1);
  EXPECT_NE(out.find(refusal), std::string::npos) << out;
  struct stat st;
  EXPECT_NE(stat("QvnCore_65.exe", &st), 0);
  // Each core number has its own record; and a damaged record is said and starts afresh.
  testing::internal::CaptureStdout();
  EXPECT_EQ(UnzipCore(0x66, "bundle.qvn", "QvnCore_66.exe"), 0);
  testing::internal::GetCapturedStdout();
  WriteText("coresigned.dat", "garbage");
  std::tie(rc, out) = Unzip();
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("- coresigned.dat is damaged; it starts afresh\n"), std::string::npos) << out;
  // The same signing time again (a core deleted and fetched anew) is taken.
  std::tie(rc, out) = Unzip();
  EXPECT_EQ(rc, 0) << out;
}

TEST_F(BundleTest, ABundleSignedBeforeTheBuildsFloorIsRefused) {
  if (QVN_CORE_MIN_SIGNED <= kTestKeyValidFrom) GTEST_SKIP() << "this build sets no floor within the test key's life";
  Make("", kTestKeyValidFrom + 1);
  WriteText("QvnCore_65.exe", "the old core");
  const auto [rc, out] = Unzip();
  EXPECT_EQ(rc, -1);
  EXPECT_NE(out.find("Signature is VALID\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Core was signed before the oldest signing time this client accepts.\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Failed to verify core\n"), std::string::npos) << out;
  EXPECT_EQ(ReadText("QvnCore_65.exe"), "the old core");
}

// A validly signed payload that expands past the cap is refused inside the decoding: the memory it takes
// stays near the cap (it took twice the cap when the cap was checked between input pieces). The sanitizer
// builds skip it: their allocator copies on every growth, which makes the expansion take minutes.
TEST_F(BundleTest, ACoreLargerThanTheCapIsRefusedWithinTheCapsMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator copies on every growth: the expansion would take minutes";
#endif
  Make("bomb=" + std::to_string((kCoreSizeMax >> 20) * 2));  // twice the cap
  WriteText("QvnCore_65.exe", "the old core");
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LogSetConsoleEcho(0);
    const int rc = UnzipCore(0x65, "bundle.qvn", "QvnCore_65.exe");
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakKiB[2] = {rc, usage.ru_maxrss};
    (void)!write(report[1], peakKiB, sizeof peakKiB);
    _exit(0);
  }
  close(report[1]);
  long peakKiB[2] = {0, 0};
  ASSERT_EQ(read(report[0], peakKiB, sizeof peakKiB), static_cast<ssize_t>(sizeof peakKiB));
  close(report[0]);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(peakKiB[0], -1);
  EXPECT_LT(static_cast<u64>(peakKiB[1]) * 1024, kCoreSizeMax + (96u << 20)) << "peak KiB " << peakKiB[1];
  struct stat st;
  EXPECT_NE(stat("QvnCore_65.exe", &st), 0) << "a verified core that did not unpack is removed";
}

TEST_F(BundleTest, KillDuringInstallationNeverLeavesAHalfWrittenCore) {
  Make("");
  // The kills are spread over a few installations' time, as this build takes it (the sanitizers' is far
  // longer), and go on until some landed inside a write: only those prove anything.
  testing::internal::CaptureStdout();
  const u64 began = v3MonotonicMs();
  ASSERT_EQ(UnzipCore(0x65, "bundle.qvn", "QvnCore_65.exe"), 0);
  const u64 installMs = v3MonotonicMs() - began + 1;
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(unlink("QvnCore_65.exe"), 0);
  int interrupted = 0;  // rounds whose kill landed while a core was being written
  int installed = 0;
  for (int round = 0; round < 12 || (interrupted == 0 && round < 200); ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      LogSetConsoleEcho(0);
      for (;;) {
        if (UnzipCore(0x65, "bundle.qvn", "QvnCore_65.exe") != 0) _exit(3);
      }
    }
    usleep(static_cast<useconds_t>(installMs * 1000 * (1 + round % 12) / 4));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    struct stat st;
    if (stat("QvnCore_65.exe.new", &st) == 0) ++interrupted;
    if (stat("QvnCore_65.exe", &st) == 0) {
      ASSERT_EQ(ReadText("QvnCore_65.exe"), core_) << "round " << round;
      EXPECT_EQ(st.st_mode & 0100, 0100u);
      ++installed;
    }
  }
  EXPECT_GT(interrupted, 0) << "no kill landed inside an installation: the loop proved nothing";
  EXPECT_GT(installed, 0);
}

TEST(CoreRequest, PathsFromLocationAndOption) {
  const struct {
    const char* location;
    u8 option;
    u32 core;
    const char* host;
    const char* path;
  } cases[] = {
      {"H/pub/cores", 0, 0x1a4, "H", "/pub/cores/Core_1a4.qvn"},
      {"H/pub/Core_99.qvn", 0x10, 0x78, "H", "/pub/Core_78.qvn"},
      {"H/pub/", 0x10, 0x78, "H", "/pub/Core_78.qvn"},
      {"H/pub", 0x10, 0x78, "H", "/pubCore_78.qvn"},
      {"cores.example:8080/x", 0, 0x65, "cores.example:8080", "/x/Core_65.qvn"},
      {"H", 0, 0x65, "H", "/Core_65.qvn"},  // a host alone: the bundle at its root
      {"H", 0x10, 0x65, "H", "/Core_65.qvn"},
  };
  for (const auto& c : cases) {
    char bundle[32];
    std::snprintf(bundle, sizeof bundle, "Core_%x.qvn", c.core);
    char host[64];
    char path[128];
    ASSERT_TRUE(CoreRequest(c.location, c.option, bundle, host, sizeof host, path, sizeof path)) << c.location;
    EXPECT_STREQ(host, c.host) << c.location;
    EXPECT_STREQ(path, c.path) << c.location;
  }
  char host[4];
  char path[128];
  EXPECT_FALSE(CoreRequest("a-long-host/x", 0, "Core_1.qvn", host, sizeof host, path, sizeof path));
}
