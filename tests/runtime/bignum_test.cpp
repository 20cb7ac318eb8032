// Multi-precision integers: the worked examples, and modular powers checked against python's pow.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/bignum.h"

namespace {

// A number from hexadecimal text.
BigNum FromHex(const std::string& hex) {
  std::string even = hex.size() % 2 ? "0" + hex : hex;
  std::vector<u8> bytes;
  for (size_t i = 0; i < even.size(); i += 2) bytes.push_back(static_cast<u8>(std::stoi(even.substr(i, 2), nullptr, 16)));
  BigNum n{};
  EXPECT_EQ(v3BigFromBytes(&n, bytes.data(), bytes.size() * 8), 0);
  return n;
}

std::string ToHex(const BigNum& n) {
  u64 bits = 0;
  EXPECT_EQ(v3BigBits(&bits, &n), 0);
  const u64 width = (bits + 7) / 8 * 8;
  std::vector<u8> bytes(width / 8);
  if (width > 0) EXPECT_EQ(v3BigToBytes(bytes.data(), &n, width, width), 0);
  std::string hex;
  char two[3];
  for (u8 b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  const size_t first = hex.find_first_not_of('0');
  return first == std::string::npos ? "0" : hex.substr(first);
}

BigNum Small(s32 value) {
  BigNum n{};
  EXPECT_EQ(v3BigSet(&n, value), 0);
  return n;
}

}  // namespace

TEST(BigNum, ImportAndExport) {
  const u8 three[] = {1, 0, 0};
  BigNum n{};
  ASSERT_EQ(v3BigFromBytes(&n, three, 24), 0);
  EXPECT_EQ(n.used, 1);
  EXPECT_EQ(n.limbs[0], 65536u);
  u8 out[4];
  ASSERT_EQ(v3BigToBytes(out, &n, 24, 32), 0);
  EXPECT_EQ(std::vector<u8>(out, out + 4), (std::vector<u8>{0, 1, 0, 0}));
  EXPECT_EQ(v3BigToBytes(out, &n, 16, 32), -1);
  const u8 eight[] = {0, 0, 0, 0, 0, 0, 0, 5};
  ASSERT_EQ(v3BigFromBytes(&n, eight, 64), 0);
  EXPECT_EQ(n.used, 1);
  EXPECT_EQ(n.limbs[0], 5u);
  EXPECT_EQ(v3BigFromBytes(&n, eight, 20), -1);
  const u8 zeros[8] = {};
  ASSERT_EQ(v3BigFromBytes(&n, zeros, 64), 0);
  EXPECT_EQ(n.used, 0);
  v3BigFree(&n);
}

TEST(BigNum, SetCompareAndSigns) {
  BigNum zero = Small(0);
  BigNum other = Small(0);
  EXPECT_EQ(zero.used, 0);
  EXPECT_EQ(v3BigCompare(&zero, &other), 0);
  BigNum minusFive = Small(-5);
  EXPECT_EQ(minusFive.used, 1);
  EXPECT_EQ(minusFive.limbs[0], 5u);
  EXPECT_EQ(minusFive.sign, 1);
  BigNum three = Small(3);
  EXPECT_EQ(v3BigCompare(&minusFive, &three), -1);
  EXPECT_EQ(v3BigCompareAbs(&minusFive, &three), 1);
  BigNum r{};
  ASSERT_EQ(v3BigAdd(&r, &minusFive, &three), 0);  // -2
  EXPECT_EQ(r.sign, 1);
  EXPECT_EQ(r.limbs[0], 2u);
  ASSERT_EQ(v3BigSub(&r, &three, &minusFive), 0);  // 8
  EXPECT_EQ(ToHex(r), "8");
  ASSERT_EQ(v3BigMul(&r, &minusFive, &three), 0);  // -15
  EXPECT_EQ(r.sign, 1);
  EXPECT_EQ(r.limbs[0], 15u);
  for (BigNum* n : {&zero, &other, &minusFive, &three, &r}) v3BigFree(n);
}

TEST(BigNum, ArithmeticAcrossLimbs) {
  BigNum a = FromHex("ffffffffffffffffffffffff");
  BigNum one = Small(1);
  BigNum r{};
  ASSERT_EQ(v3BigAdd(&r, &a, &one), 0);
  EXPECT_EQ(ToHex(r), "1000000000000000000000000");
  ASSERT_EQ(v3BigSub(&r, &r, &one), 0);  // the result may be an operand
  EXPECT_EQ(ToHex(r), "ffffffffffffffffffffffff");
  ASSERT_EQ(v3BigMul(&r, &a, &a), 0);
  EXPECT_EQ(ToHex(r), "fffffffffffffffffffffffe000000000000000000000001");
  ASSERT_EQ(v3BigShiftLeft(&r, &one, 100), 0);
  EXPECT_EQ(ToHex(r), "10000000000000000000000000");
  ASSERT_EQ(v3BigHalve(&r), 0);
  EXPECT_EQ(ToHex(r), "8000000000000000000000000");
  ASSERT_EQ(v3BigSetBit(&r, 140, 1), 0);
  EXPECT_EQ(ToHex(r), "1" + std::string(10, '0') + "8" + std::string(24, '0'));
  u64 bits = 0;
  ASSERT_EQ(v3BigBits(&bits, &r), 0);
  EXPECT_EQ(bits, 141u);
  for (BigNum* n : {&a, &one, &r}) v3BigFree(n);
}

TEST(BigNum, Division) {
  BigNum a = FromHex("10000000000000001");  // 2^64 + 1
  BigNum b = FromHex("100000000");          // 2^32
  BigNum q{};
  BigNum r{};
  ASSERT_EQ(v3BigDivMod(&q, &r, &a, &b), 0);
  EXPECT_EQ(ToHex(q), "100000000");
  EXPECT_EQ(ToHex(r), "1");
  BigNum seven = Small(7);
  ASSERT_EQ(v3BigDivMod(&q, &r, &seven, &seven), 0);
  EXPECT_EQ(ToHex(q), "1");
  EXPECT_EQ(r.used, 0);
  BigNum zero = Small(0);
  EXPECT_EQ(v3BigDivMod(&q, &r, &seven, &zero), -1);  // no answer for a zero divisor
  ASSERT_EQ(v3BigDivMod(nullptr, &r, &zero, &seven), 0);
  EXPECT_EQ(r.used, 0);
  for (BigNum* n : {&a, &b, &q, &r, &seven, &zero}) v3BigFree(n);
}

TEST(BigNum, ModularPowerSmallCases) {
  BigNum r{};
  BigNum four = Small(4), thirteen = Small(13), m497 = Small(497), zero = Small(0), one = Small(1);
  ASSERT_EQ(v3BigModExp(&r, &four, &thirteen, &m497), 0);
  EXPECT_EQ(ToHex(r), "1bd");  // 445
  ASSERT_EQ(v3BigModExp(&r, &four, &zero, &m497), 0);
  EXPECT_EQ(ToHex(r), "1");
  ASSERT_EQ(v3BigModExp(&r, &four, &thirteen, &one), 0);
  EXPECT_EQ(ToHex(r), "0");
  ASSERT_EQ(v3BigModExp(&r, &zero, &thirteen, &m497), 0);
  EXPECT_EQ(ToHex(r), "0");
  for (BigNum* n : {&r, &four, &thirteen, &m497, &zero, &one}) v3BigFree(n);
}

TEST(BigNum, ModularPowerAgreesWithPythonOn1024BitOperands) {
  std::ifstream in(QVN_FIXTURES "/modexp.txt");
  ASSERT_TRUE(in);
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string base, exponent, modulus, expected;
    fields >> base >> exponent >> modulus >> expected;
    BigNum b = FromHex(base), e = FromHex(exponent), m = FromHex(modulus), r{};
    ASSERT_EQ(v3BigModExp(&r, &b, &e, &m), 0);
    EXPECT_EQ(ToHex(r), expected) << "line " << checked;
    for (BigNum* n : {&b, &e, &m, &r}) v3BigFree(n);
    ++checked;
  }
  EXPECT_EQ(checked, 24);
}
