// Sign-and-magnitude integers of 32-bit limbs (least significant first), for signature verification.
// Plain methods: schoolbook multiply, shift-and-subtract division, right-to-left square-and-multiply.
// Numbers stay normalised (no zero top limb; zero has used 0 and sign 0). A result may be an operand.
// Every operation returns 0, or -1 for a null argument or when memory cannot be had.
#pragma once

#include "runtime/types.h"

inline constexpr u32 V3_BIG_MAX_LIMBS = 67108862;
inline constexpr u64 V3_BIG_MAX_BITS = 2147483584;

struct BigNum {  // all-zero is a valid zero
  u32* limbs;
  u32 capacity;
  s32 used;
  s32 sign;  // 1 negative
};

int v3BigInit(BigNum* n);
void v3BigFree(BigNum* n);
[[nodiscard]] int v3BigSet(BigNum* n, s32 value);
[[nodiscard]] int v3BigCopy(BigNum* dst, const BigNum* src);
[[nodiscard]] int v3BigFromBytes(BigNum* n, const u8* bytes, u64 bits);
[[nodiscard]] int v3BigToBytes(u8* bytes, const BigNum* n, u64 limitBits, u64 widthBits);
[[nodiscard]] int v3BigBits(u64* count, const BigNum* n);
[[nodiscard]] int v3BigCompareAbs(const BigNum* a, const BigNum* b);
[[nodiscard]] int v3BigCompare(const BigNum* a, const BigNum* b);
[[nodiscard]] int v3BigAdd(BigNum* r, const BigNum* a, const BigNum* b);
[[nodiscard]] int v3BigSub(BigNum* r, const BigNum* a, const BigNum* b);
[[nodiscard]] int v3BigMul(BigNum* r, const BigNum* a, const BigNum* b);
// Either output may be null. A zero divisor fails with -1.
[[nodiscard]] int v3BigDivMod(BigNum* q, BigNum* r, const BigNum* a, const BigNum* b);
[[nodiscard]] int v3BigShiftLeft(BigNum* r, const BigNum* a, u64 k);
[[nodiscard]] int v3BigHalve(BigNum* n);
[[nodiscard]] int v3BigSetBit(BigNum* n, u64 bit, u32 value);
[[nodiscard]] int v3BigModExp(BigNum* r, const BigNum* base, const BigNum* exponent, const BigNum* modulus);
