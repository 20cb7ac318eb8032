// Digests: the standard vectors, split updates, the combined digest and the calling-order rules.
#include <gtest/gtest.h>

#include <string>

#include "runtime/hash.h"

namespace {

struct Algorithm {
  HashInit init;
  HashUpdate update;
  HashFinal final;
};
const Algorithm kMd5{v3Md5Init, v3Md5Update, v3Md5Final};
const Algorithm kSha1{v3Sha1Init, v3Sha1Update, v3Sha1Final};
const Algorithm kCrc{v3Crc32Init, v3Crc32Update, v3Crc32Final};
const Algorithm kBoth{v3Md5Sha1Init, v3Md5Sha1Update, v3Md5Sha1Final};

// The digest as hex, fed in pieces of the given size (0: one update).
std::string Digest(const Algorithm& a, const std::string& input, size_t piece = 0) {
  HashContext c{};
  EXPECT_EQ(v3HashBegin(&c, a.init, a.update, a.final), 0);
  const size_t step = piece == 0 ? (input.empty() ? 1 : input.size()) : piece;
  for (size_t at = 0; at < input.size(); at += step) {
    EXPECT_EQ(v3HashUpdate(&c, input.data() + at, std::min(step, input.size() - at)), 0);
  }
  u8 digest[V3_DIGEST_SIZE];
  EXPECT_EQ(v3HashEnd(digest, &c), 0);
  std::string hex;
  char two[3];
  for (u8 b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

const std::string kZeros12(24, '0');
const std::string kZeros16(32, '0');

}  // namespace

TEST(Hash, StandardVectors) {
  const struct {
    const Algorithm* algorithm;
    std::string input;
    std::string digest;
  } cases[] = {
      {&kMd5, "", "d41d8cd98f00b204e9800998ecf8427e" + kZeros16},
      {&kMd5, "abc", "900150983cd24fb0d6963f7d28e17f72" + kZeros16},
      {&kMd5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0" + kZeros16},
      {&kMd5, "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a" + kZeros16},
      {&kSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d" + kZeros12},
      {&kSha1, "message digest", "c12252ceda8be8994d5fa0290a47231c1d16aae3" + kZeros12},
      {&kSha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1" + kZeros12},
      {&kCrc, "123456789", "cbf43926" + std::string(56, '0')},
      {&kBoth, "abc", "900150983cd24fb0d6963f7d28e17f72a9993e364706816aba3e25717850c26c"},
  };
  for (const auto& c : cases) EXPECT_EQ(Digest(*c.algorithm, c.input), c.digest) << c.input;
  EXPECT_EQ(Digest(kSha1, std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f" + kZeros12);
}

TEST(Hash, PortableSha1AgreesWithTheProcessorsInstructions) {
  std::string input;
  for (int i = 0; i < 5000; ++i) input += static_cast<char>(i * 13 + i / 7);
  const std::string fast = Digest(kSha1, input, 777);
  v3HashSetSha1Hardware(0);
  EXPECT_EQ(Digest(kSha1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d" + kZeros12);
  EXPECT_EQ(Digest(kSha1, input, 777), fast);
  v3HashSetSha1Hardware(1);
}

TEST(Hash, SplitUpdatesGiveTheSameDigest) {
  std::string input;
  for (int i = 0; i < 1000; ++i) input += static_cast<char>(i * 31 + 7);
  for (const Algorithm* a : {&kMd5, &kSha1, &kCrc, &kBoth}) {
    const std::string whole = Digest(*a, input);
    for (size_t piece : {1, 63, 64, 65}) EXPECT_EQ(Digest(*a, input, piece), whole) << piece;
  }
}

TEST(Hash, CallingOrderAndCompare) {
  HashContext c{};
  u8 digest[V3_DIGEST_SIZE];
  EXPECT_EQ(v3HashUpdate(&c, "x", 1), -1);  // never begun
  EXPECT_EQ(v3HashBegin(&c, nullptr, v3Md5Update, v3Md5Final), -4);
  ASSERT_EQ(v3HashBegin(&c, v3Md5Init, v3Md5Update, v3Md5Final), 0);
  EXPECT_EQ(c.status, 42u);
  EXPECT_EQ(v3HashUpdate(&c, "x", 0), 0);
  EXPECT_EQ(c.status, 43u);
  EXPECT_EQ(v3HashUpdate(&c, nullptr, 1), -4);
  ASSERT_EQ(v3HashEnd(digest, &c), 0);
  EXPECT_EQ(v3HashUpdate(&c, "x", 1), -1);
  EXPECT_EQ(v3HashEnd(digest, &c), -1);
  u8 other[V3_DIGEST_SIZE];
  std::copy(digest, digest + V3_DIGEST_SIZE, other);
  EXPECT_EQ(v3HashCompare(digest, other), 1);
  other[31] ^= 1;
  EXPECT_EQ(v3HashCompare(digest, other), 0);
}
