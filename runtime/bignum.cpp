// Multi-precision integers.
#include "runtime/bignum.h"

#include <cstring>

#include "runtime/memory.h"

namespace {

// Grows the limb array to at least limbs entries, zero-filling the new ones; never shrinks.
int Grow(BigNum* n, u64 limbs) {
  if (limbs > V3_BIG_MAX_LIMBS) return -1;
  if (limbs <= n->capacity) return 0;
  auto* grown = static_cast<u32*>(v3MemRealloc(n->limbs, limbs * sizeof(u32), V3_MEM_NORMAL));
  if (grown == nullptr) return -1;
  std::memset(grown + n->capacity, 0, (limbs - n->capacity) * sizeof(u32));
  n->limbs = grown;
  n->capacity = static_cast<u32>(limbs);
  return 0;
}

void Normalise(BigNum* n) {
  while (n->used > 0 && n->limbs[n->used - 1] == 0) --n->used;
  if (n->used == 0) n->sign = 0;
}

// A temporary that frees itself.
struct Temp {
  BigNum n{};
  ~Temp() { v3BigFree(&n); }
};

int CompareMagnitude(const BigNum* a, const BigNum* b) {
  if (a->used != b->used) return a->used > b->used ? 1 : -1;
  for (s32 i = a->used - 1; i >= 0; --i) {
    if (a->limbs[i] != b->limbs[i]) return a->limbs[i] > b->limbs[i] ? 1 : -1;
  }
  return 0;
}

// r = |a| + |b| (sign left to the caller).
int AddMagnitude(BigNum* r, const BigNum* a, const BigNum* b) {
  const BigNum* longer = a->used >= b->used ? a : b;
  const BigNum* shorter = a->used >= b->used ? b : a;
  Temp t;
  if (Grow(&t.n, static_cast<u64>(longer->used) + 1) != 0) return -1;
  u64 carry = 0;
  for (s32 i = 0; i < longer->used; ++i) {
    const u64 sum = u64{longer->limbs[i]} + (i < shorter->used ? shorter->limbs[i] : 0) + carry;
    t.n.limbs[i] = static_cast<u32>(sum);
    carry = sum >> 32;
  }
  t.n.limbs[longer->used] = static_cast<u32>(carry);
  t.n.used = longer->used + 1;
  Normalise(&t.n);
  return v3BigCopy(r, &t.n);
}

// r = |a| - |b|. REQUIRES: |a| >= |b|.
int SubMagnitude(BigNum* r, const BigNum* a, const BigNum* b) {
  Temp t;
  if (Grow(&t.n, static_cast<u64>(a->used)) != 0) return -1;
  s64 borrow = 0;
  for (s32 i = 0; i < a->used; ++i) {
    s64 difference = s64{a->limbs[i]} - (i < b->used ? s64{b->limbs[i]} : 0) - borrow;
    borrow = difference < 0 ? 1 : 0;
    if (difference < 0) difference += s64{1} << 32;
    t.n.limbs[i] = static_cast<u32>(difference);
  }
  t.n.used = a->used;
  Normalise(&t.n);
  return v3BigCopy(r, &t.n);
}

// a -= b in place on magnitudes. REQUIRES: |a| >= |b|. The division's inner step, so it allocates nothing.
void SubtractInPlace(BigNum* a, const BigNum* b) {
  u64 borrow = 0;
  for (s32 i = 0; i < a->used; ++i) {
    const u64 subtrahend = (i < b->used ? u64{b->limbs[i]} : 0) + borrow;
    const u64 limb = a->limbs[i];
    borrow = limb < subtrahend ? 1 : 0;
    a->limbs[i] = static_cast<u32>(limb - subtrahend);
    if (borrow == 0 && i >= b->used) break;
  }
  Normalise(a);
}

// Signed sum of a and (b with its sign flipped when negateB).
int SignedAdd(BigNum* r, const BigNum* a, const BigNum* b, bool negateB) {
  if (r == nullptr || a == nullptr || b == nullptr) return -1;
  const s32 signA = a->sign;
  const s32 signB = negateB && b->used > 0 ? 1 - b->sign : b->sign;
  int rc;
  s32 sign;
  if (signA == signB) {
    sign = signA;
    rc = AddMagnitude(r, a, b);
  } else if (CompareMagnitude(a, b) >= 0) {
    sign = signA;
    rc = SubMagnitude(r, a, b);
  } else {
    sign = signB;
    rc = SubMagnitude(r, b, a);
  }
  if (rc == 0) r->sign = r->used > 0 ? sign : 0;
  return rc;
}

}  // namespace

int v3BigInit(BigNum* n) {
  if (n == nullptr) return -1;
  *n = BigNum{};
  return 0;
}

void v3BigFree(BigNum* n) {
  if (n == nullptr) return;
  v3MemFree(n->limbs);
  *n = BigNum{};
}

int v3BigSet(BigNum* n, s32 value) {
  if (n == nullptr || Grow(n, 1) != 0) return -1;
  std::memset(n->limbs, 0, n->capacity * sizeof(u32));
  const u32 magnitude = value < 0 ? 0u - static_cast<u32>(value) : static_cast<u32>(value);
  n->limbs[0] = magnitude;
  n->used = magnitude != 0 ? 1 : 0;
  n->sign = value < 0 ? 1 : 0;
  return 0;
}

int v3BigCopy(BigNum* dst, const BigNum* src) {
  if (dst == nullptr || src == nullptr) return -1;
  if (dst == src) return 0;
  if (Grow(dst, static_cast<u64>(src->used)) != 0) return -1;
  if (src->used > 0) std::memcpy(dst->limbs, src->limbs, static_cast<u64>(src->used) * sizeof(u32));
  if (dst->capacity > static_cast<u32>(src->used)) {
    std::memset(dst->limbs + src->used, 0, (dst->capacity - static_cast<u32>(src->used)) * sizeof(u32));
  }
  dst->used = src->used;
  dst->sign = src->sign;
  return 0;
}

int v3BigFromBytes(BigNum* n, const u8* bytes, u64 bits) {
  if (n == nullptr || (bytes == nullptr && bits > 0) || bits % 8 != 0 || bits > V3_BIG_MAX_BITS) return -1;
  const u64 limbs = (bits + 31) / 32;
  Temp t;
  if (Grow(&t.n, limbs) != 0) return -1;
  u64 at = 0;
  for (u64 limb = limbs; limb-- > 0;) {
    const u64 width = limb == limbs - 1 && bits % 32 != 0 ? ((bits % 32) + 7) / 8 : 4;
    u32 value = 0;
    for (u64 i = 0; i < width; ++i) value = value << 8 | bytes[at++];
    t.n.limbs[limb] = value;
  }
  t.n.used = static_cast<s32>(limbs);
  Normalise(&t.n);
  return v3BigCopy(n, &t.n);
}

int v3BigBits(u64* count, const BigNum* n) {
  if (count == nullptr || n == nullptr) return -1;
  if (n->used == 0) {
    *count = 0;
    return 0;
  }
  u32 top = n->limbs[n->used - 1];
  u64 length = 0;
  while (top != 0) {
    ++length;
    top >>= 1;
  }
  *count = 32 * static_cast<u64>(n->used - 1) + length;
  return 0;
}

int v3BigToBytes(u8* bytes, const BigNum* n, u64 limitBits, u64 widthBits) {
  if (bytes == nullptr || n == nullptr || limitBits % 8 != 0 || widthBits % 8 != 0) return -1;
  u64 bits = 0;
  (void)v3BigBits(&bits, n);
  if (bits > limitBits || bits > V3_BIG_MAX_BITS || bits > widthBits) return -1;
  const u64 width = widthBits / 8;
  const u64 needed = (bits + 7) / 8;
  std::memset(bytes, 0, width - needed);
  for (u64 i = 0; i < needed; ++i) {
    const u64 byteIndex = needed - 1 - i;  // from the most significant byte down
    bytes[width - needed + i] = static_cast<u8>(n->limbs[byteIndex / 4] >> (8 * (byteIndex % 4)));
  }
  return 0;
}

int v3BigCompareAbs(const BigNum* a, const BigNum* b) { return CompareMagnitude(a, b); }

int v3BigCompare(const BigNum* a, const BigNum* b) {
  if (a->sign != b->sign) return a->sign ? -1 : 1;
  const int magnitude = CompareMagnitude(a, b);
  return a->sign ? -magnitude : magnitude;
}

int v3BigAdd(BigNum* r, const BigNum* a, const BigNum* b) { return SignedAdd(r, a, b, false); }
int v3BigSub(BigNum* r, const BigNum* a, const BigNum* b) { return SignedAdd(r, a, b, true); }

int v3BigMul(BigNum* r, const BigNum* a, const BigNum* b) {
  if (r == nullptr || a == nullptr || b == nullptr) return -1;
  const BigNum* longer = a->used >= b->used ? a : b;
  const BigNum* shorter = a->used >= b->used ? b : a;
  Temp t;
  if (Grow(&t.n, static_cast<u64>(a->used) + static_cast<u64>(b->used) + 1) != 0) return -1;
  for (s32 i = 0; i < shorter->used; ++i) {
    u64 carry = 0;
    const u64 factor = shorter->limbs[i];
    for (s32 j = 0; j < longer->used; ++j) {
      const u64 product = factor * longer->limbs[j] + t.n.limbs[i + j] + carry;
      t.n.limbs[i + j] = static_cast<u32>(product);
      carry = product >> 32;
    }
    for (s32 k = i + longer->used; carry != 0; ++k) {
      const u64 sum = u64{t.n.limbs[k]} + carry;
      t.n.limbs[k] = static_cast<u32>(sum);
      carry = sum >> 32;
    }
  }
  t.n.used = a->used + b->used;
  t.n.sign = a->sign ^ b->sign;
  Normalise(&t.n);
  return v3BigCopy(r, &t.n);
}

int v3BigShiftLeft(BigNum* r, const BigNum* a, u64 k) {
  if (r == nullptr || a == nullptr) return -1;
  const u64 words = k / 32;
  const u32 bits = static_cast<u32>(k % 32);
  Temp t;
  if (a->used > 0) {
    if (Grow(&t.n, static_cast<u64>(a->used) + words + 1) != 0) return -1;
    for (s32 i = 0; i < a->used; ++i) {
      const u64 shifted = u64{a->limbs[i]} << bits;
      t.n.limbs[i + words] |= static_cast<u32>(shifted);
      t.n.limbs[i + words + 1] |= static_cast<u32>(shifted >> 32);
    }
    t.n.used = static_cast<s32>(static_cast<u64>(a->used) + words + 1);
    Normalise(&t.n);
  }
  return v3BigCopy(r, &t.n);
}

int v3BigHalve(BigNum* n) {
  if (n == nullptr) return -1;
  for (s32 i = 0; i < n->used; ++i) {
    const u32 high = i + 1 < n->used ? n->limbs[i + 1] : 0;
    n->limbs[i] = (n->limbs[i] >> 1) | (high << 31);
  }
  Normalise(n);
  return 0;
}

int v3BigSetBit(BigNum* n, u64 bit, u32 value) {
  if (n == nullptr || Grow(n, bit / 32 + 1) != 0) return -1;
  const u64 limb = bit / 32;
  const u32 mask = u32{1} << (bit % 32);
  if (value) {
    n->limbs[limb] |= mask;
    if (static_cast<s64>(limb) >= n->used) n->used = static_cast<s32>(limb + 1);
  } else {
    n->limbs[limb] &= ~mask;
    Normalise(n);
  }
  return 0;
}

int v3BigDivMod(BigNum* q, BigNum* r, const BigNum* a, const BigNum* b) {
  if (a == nullptr || b == nullptr) return -1;
  if (b->used == 0) return -1;  // division by zero has no answer
  Temp quotient;
  Temp remainder;
  if (v3BigCopy(&remainder.n, a) != 0) return -1;
  remainder.n.sign = 0;
  if (CompareMagnitude(a, b) >= 0) {
    u64 bitsA = 0;
    u64 bitsB = 0;
    (void)v3BigBits(&bitsA, a);
    (void)v3BigBits(&bitsB, b);
    const u64 s = bitsA - bitsB;
    Temp d;
    if (v3BigShiftLeft(&d.n, b, s) != 0) return -1;
    for (u64 k = s + 1; k-- > 0;) {
      if (CompareMagnitude(&remainder.n, &d.n) >= 0) {
        if (q != nullptr && v3BigSetBit(&quotient.n, k, 1) != 0) return -1;
        SubtractInPlace(&remainder.n, &d.n);
      }
      (void)v3BigHalve(&d.n);
    }
  }
  if (q != nullptr && v3BigCopy(q, &quotient.n) != 0) return -1;
  if (r != nullptr && v3BigCopy(r, &remainder.n) != 0) return -1;
  return 0;
}

int v3BigModExp(BigNum* r, const BigNum* base, const BigNum* exponent, const BigNum* modulus) {
  if (r == nullptr || base == nullptr || exponent == nullptr || modulus == nullptr) return -1;
  Temp acc;
  if (base->used == 0 || modulus->used == 0 || (modulus->used == 1 && modulus->limbs[0] == 1)) {
    return v3BigSet(r, 0);
  }
  if (v3BigSet(&acc.n, 1) != 0) return -1;
  Temp p;
  if (v3BigCopy(&p.n, base) != 0) return -1;
  u64 bits = 0;
  (void)v3BigBits(&bits, exponent);
  for (u64 i = 0; i < bits; ++i) {
    if (exponent->limbs[i / 32] >> (i % 32) & 1) {
      if (v3BigMul(&acc.n, &acc.n, &p.n) != 0 || v3BigDivMod(nullptr, &acc.n, &acc.n, modulus) != 0) return -1;
    }
    if (i + 1 < bits && (v3BigMul(&p.n, &p.n, &p.n) != 0 || v3BigDivMod(nullptr, &p.n, &p.n, modulus) != 0)) {
      return -1;
    }
  }
  return v3BigCopy(r, &acc.n);
}
