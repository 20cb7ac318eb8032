// Keys and signatures made by the independent signing tool: the good one verifies and each single-field
// forgery is refused with its code.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/signature.h"

namespace {

std::vector<u8> Bytes(const std::string& hex) {
  std::vector<u8> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<u8>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<u8> TestKey() {
  std::ifstream in(QVN_FIXTURES "/test_key.pub", std::ios::binary);
  return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(KeyLoad, PublicKeyRecord) {
  const std::vector<u8> record = TestKey();
  ASSERT_EQ(record.size(), 176u);
  KeyRecord key{};
  u64 consumed = 0;
  ASSERT_EQ(v3KeyLoad(&key, &consumed, record.data(), record.size(), nullptr), 0);
  EXPECT_EQ(consumed, 176u);
  EXPECT_EQ(key.type, V3_KEY_PUBLIC);
  EXPECT_EQ(key.bits, 1024u);
  EXPECT_EQ(key.validFrom, 800000000);
  EXPECT_EQ(key.validUntil, 900000000);
  EXPECT_EQ(key.keyId, 0x1234567890ABCDEFull);
  EXPECT_STREQ(key.name, "test key");
  v3KeyFree(&key);

  const struct {
    const char* what;
    size_t offset;
    std::vector<u8> bytes;
    size_t length;
    int rc;
  } cases[] = {{"short of its modulus", 0, {}, 175, -3},
               {"shorter than its header", 0, {}, 20, -3},
               {"type 6", 0, {0, 6}, 176, -3},
               {"second word 1", 2, {0, 1}, 176, -3},
               {"bits 496", 4, {0, 0, 1, 0xF0}, 176, -3},
               {"bits not a multiple of 16", 4, {0, 0, 4, 8}, 176, -3},
               {"bits huge", 4, {0x7F, 0xFF, 0xFF, 0xF0}, 176, -3},
               {"private without pass phrase", 0, {0, 10}, 176, -1}};
  for (const auto& c : cases) {
    std::vector<u8> changed = record;
    std::copy(c.bytes.begin(), c.bytes.end(), changed.begin() + static_cast<long>(c.offset));
    KeyRecord k{};
    EXPECT_EQ(v3KeyLoad(&k, &consumed, changed.data(), c.length, nullptr), c.rc) << c.what;
    v3KeyFree(&k);
  }
  EXPECT_EQ(v3KeyLoad(nullptr, &consumed, record.data(), record.size(), nullptr), -1);
}

TEST(Signature, ToolSignaturesAndForgeries) {
  const std::vector<u8> keyBytes = TestKey();
  KeyRecord key{};
  u64 consumed = 0;
  ASSERT_EQ(v3KeyLoad(&key, &consumed, keyBytes.data(), keyBytes.size(), nullptr), 0);
  std::ifstream in(QVN_FIXTURES "/signatures.txt");
  ASSERT_TRUE(in);
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> field;
    std::stringstream split(line);
    for (std::string part; std::getline(split, part, '|');) field.push_back(part);
    ASSERT_EQ(field.size(), 4u) << line;
    const std::vector<u8> record = Bytes(field[3]);
    SignatureRecord sig{};
    EXPECT_EQ(v3SignatureLoad(&sig, &consumed, record.data(), record.size()), std::stoi(field[1])) << field[0];
    if (field[2] != "-") {
      EXPECT_EQ(consumed, 162u);
      u8 digest[V3_DIGEST_SIZE] = {};
      v3Time time{};
      u8 hashCode = 0, formatCode = 0;
      EXPECT_EQ(v3SignatureVerify(digest, &time, &hashCode, &formatCode, &sig, &key), std::stoi(field[2])) << field[0];
      if (field[2] == "0") {
        for (int i = 0; i < 32; ++i) EXPECT_EQ(digest[i], i) << field[0];
        EXPECT_EQ(hashCode, 5);
        EXPECT_EQ(formatCode, 0xCC);
        EXPECT_EQ(time.fraction, 0u);
        EXPECT_GE(time.seconds, 800000000);
      }
    }
    v3SignatureFree(&sig);
    ++cases;
  }
  EXPECT_EQ(cases, 20);
  v3KeyFree(&key);
}
