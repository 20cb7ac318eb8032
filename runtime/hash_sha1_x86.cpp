// SHA-1 block compression with the x86 SHA extensions, used when the processor has them (checked at run
// time). The same FIPS 180-1 computation as the portable code, four rounds per instruction.
#include <cpuid.h>
#include <immintrin.h>

#include <utility>

#include "runtime/types.h"

#if defined(__x86_64__) || defined(__i386__)

namespace {

struct Registers {
  __m128i abcd;
  __m128i e[2];
  __m128i message[4];
};

// Four rounds G (0..19): the message schedule of the later groups is advanced alongside, as the
// instructions are designed to be interleaved. Operations past the last group only compute unused values.
template <int G>
__attribute__((target("sha,sse4.1"))) inline void Group(Registers& r, const u8* block, __m128i byteSwap) {
  __m128i& a = r.message[G % 4];
  __m128i& b = r.message[(G + 1) % 4];
  __m128i& c = r.message[(G + 2) % 4];
  __m128i& d = r.message[(G + 3) % 4];
  __m128i& ex = r.e[G % 2];
  __m128i& ey = r.e[(G + 1) % 2];
  if constexpr (G < 4) {
    a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * G)), byteSwap);
  }
  if constexpr (G == 0) {
    ex = _mm_add_epi32(ex, a);
  } else {
    ex = _mm_sha1nexte_epu32(ex, a);
  }
  ey = r.abcd;
  if constexpr (G >= 3) b = _mm_sha1msg2_epu32(b, a);
  r.abcd = _mm_sha1rnds4_epu32(r.abcd, ex, G / 5);
  if constexpr (G >= 1) d = _mm_sha1msg1_epu32(d, a);
  if constexpr (G >= 2) c = _mm_xor_si128(c, a);
}

template <int... G>
__attribute__((target("sha,sse4.1"))) inline void AllGroups(Registers& r, const u8* block, __m128i byteSwap,
                                                           std::integer_sequence<int, G...>) {
  (Group<G>(r, block, byteSwap), ...);
}

}  // namespace

// The SHA extensions (CPUID leaf 7, EBX bit 29) and SSE4.1 with SSSE3 (leaf 1, ECX bits 19 and 9).
bool v3Sha1HardwareAvailable() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & (1u << 19)) == 0 || (c & (1u << 9)) == 0) return false;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
  return (b & (1u << 29)) != 0;
}

__attribute__((target("sha,sse4.1"))) void v3Sha1CompressHardware(u32 h[5], const u8* block) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  Registers r;
  r.abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
  r.e[0] = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
  r.e[1] = _mm_setzero_si128();
  const __m128i abcdSaved = r.abcd;
  const __m128i eSaved = r.e[0];
  AllGroups(r, block, byteSwap, std::make_integer_sequence<int, 20>{});
  // After 20 groups the last rounds' E is in e[0] (G = 19 wrote ey = e[0]).
  r.e[0] = _mm_sha1nexte_epu32(r.e[0], eSaved);
  r.abcd = _mm_add_epi32(r.abcd, abcdSaved);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(r.abcd, 0x1B));
  h[4] = static_cast<u32>(_mm_extract_epi32(r.e[0], 3));
}

#else

bool v3Sha1HardwareAvailable() { return false; }
void v3Sha1CompressHardware(u32*, const u8*) {}

#endif
