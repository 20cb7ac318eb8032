// SHA-1 as FIPS 180-1 defines it.
#include <cstring>

#include "runtime/hash.h"
#include "runtime/hash_block.h"

bool v3Sha1HardwareAvailable();
void v3Sha1CompressHardware(u32 h[5], const u8* block);

namespace {

using Sha1State = BlockHashState<5>;

inline u32 Rotate(u32 x, int n) { return (x << n) | (x >> (32 - n)); }
inline u32 LoadBE(const u8* p) {
  u32 v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap32(v);  // SHA-1's words are big-endian
#endif
  return v;
}

// The schedule is kept as a ring of 16 words, and each group of 20 rounds has its own loop so that the
// round function and constant are fixed inside it.
#define SHA1_ROUND(f, k)                                                                   \
  do {                                                                                     \
    if (i >= 16) w[i & 15] = Rotate(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1); \
    const u32 t = Rotate(a, 5) + (f) + e + (k) + w[i & 15];                                 \
    e = d;                                                                                 \
    d = c;                                                                                 \
    c = Rotate(b, 30);                                                                     \
    b = a;                                                                                 \
    a = t;                                                                                 \
  } while (0)

void Compress(u32 h[5], const u8* block) {
  u32 w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE(block + 4 * i);
  u32 a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  int i = 0;
  for (; i < 20; ++i) SHA1_ROUND(d ^ (b & (c ^ d)), 0x5A827999u);
  for (; i < 40; ++i) SHA1_ROUND(b ^ c ^ d, 0x6ED9EBA1u);
  for (; i < 60; ++i) SHA1_ROUND((b & c) | (d & (b | c)), 0x8F1BBCDCu);
  for (; i < 80; ++i) SHA1_ROUND(b ^ c ^ d, 0xCA62C1D6u);
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

#undef SHA1_ROUND

// The processor's own SHA-1 instructions, where it has them (hash_sha1_x86.cpp).
int g_useHardware = -1;  // -1: not yet decided

void CompressBlocks(u32 h[5], const u8* data, u64 blocks) {
  if (g_useHardware < 0) g_useHardware = v3Sha1HardwareAvailable() ? 1 : 0;
  for (u64 i = 0; i < blocks; ++i) {
    if (g_useHardware) {
      v3Sha1CompressHardware(h, data + 64 * i);
    } else {
      Compress(h, data + 64 * i);
    }
  }
}

}  // namespace

void v3HashSetSha1Hardware(int allowed) { g_useHardware = allowed && v3Sha1HardwareAvailable() ? 1 : 0; }

int v3Sha1Init(HashContext* c) {
  auto* s = static_cast<Sha1State*>(v3HashStartState(c, sizeof(Sha1State)));
  if (s == nullptr) return -3;
  s->h[0] = 0x67452301;
  s->h[1] = 0xEFCDAB89;
  s->h[2] = 0x98BADCFE;
  s->h[3] = 0x10325476;
  s->h[4] = 0xC3D2E1F0;
  return 0;
}

int v3Sha1Update(HashContext* c, const u8* data, u64 length) {
  AbsorbBlocks(static_cast<Sha1State*>(c->state), data, length, CompressBlocks);
  return 0;
}

int v3Sha1Final(u8 digest[V3_DIGEST_SIZE], HashContext* c) {
  auto* s = static_cast<Sha1State*>(c->state);
  u8 padding[72];
  (void)v3Sha1Update(c, padding, FinalPadding(s, padding, true));
  std::memset(digest, 0, V3_DIGEST_SIZE);
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<u8>(s->h[i / 4] >> (24 - 8 * (i % 4)));
  v3HashRelease(s, sizeof *s);
  c->state = nullptr;
  return 0;
}
