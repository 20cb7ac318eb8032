// MD5 as RFC 1321 defines it.
#include <cstring>

#include "runtime/hash.h"
#include "runtime/hash_block.h"

namespace {

using Md5State = BlockHashState<4>;

inline u32 Rotate(u32 x, int n) { return (x << n) | (x >> (32 - n)); }
inline u32 LoadLE(const u8* p) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  u32 v;
  std::memcpy(&v, p, 4);  // MD5's words are little-endian, as the host's are
  return v;
#else
  return u32{p[0]} | u32{p[1]} << 8 | u32{p[2]} << 16 | u32{p[3]} << 24;
#endif
}

// The four round functions with their step macro, as RFC 1321 writes them out: one line per step, so
// every rotation and constant is fixed at compile time.
inline u32 F(u32 x, u32 y, u32 z) { return z ^ (x & (y ^ z)); }
inline u32 G(u32 x, u32 y, u32 z) { return y ^ (z & (x ^ y)); }
inline u32 H(u32 x, u32 y, u32 z) { return x ^ y ^ z; }
inline u32 I(u32 x, u32 y, u32 z) { return y ^ (x | ~z); }

#define MD5_STEP(f, a, b, c, d, k, s, t) a = b + Rotate(a + f(b, c, d) + x[k] + (t), s)

void Compress(u32 h[4], const u8* block) {
  u32 x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLE(block + 4 * i);
  u32 a = h[0], b = h[1], c = h[2], d = h[3];
  MD5_STEP(F, a, b, c, d, 0, 7, 0xd76aa478);
  MD5_STEP(F, d, a, b, c, 1, 12, 0xe8c7b756);
  MD5_STEP(F, c, d, a, b, 2, 17, 0x242070db);
  MD5_STEP(F, b, c, d, a, 3, 22, 0xc1bdceee);
  MD5_STEP(F, a, b, c, d, 4, 7, 0xf57c0faf);
  MD5_STEP(F, d, a, b, c, 5, 12, 0x4787c62a);
  MD5_STEP(F, c, d, a, b, 6, 17, 0xa8304613);
  MD5_STEP(F, b, c, d, a, 7, 22, 0xfd469501);
  MD5_STEP(F, a, b, c, d, 8, 7, 0x698098d8);
  MD5_STEP(F, d, a, b, c, 9, 12, 0x8b44f7af);
  MD5_STEP(F, c, d, a, b, 10, 17, 0xffff5bb1);
  MD5_STEP(F, b, c, d, a, 11, 22, 0x895cd7be);
  MD5_STEP(F, a, b, c, d, 12, 7, 0x6b901122);
  MD5_STEP(F, d, a, b, c, 13, 12, 0xfd987193);
  MD5_STEP(F, c, d, a, b, 14, 17, 0xa679438e);
  MD5_STEP(F, b, c, d, a, 15, 22, 0x49b40821);
  MD5_STEP(G, a, b, c, d, 1, 5, 0xf61e2562);
  MD5_STEP(G, d, a, b, c, 6, 9, 0xc040b340);
  MD5_STEP(G, c, d, a, b, 11, 14, 0x265e5a51);
  MD5_STEP(G, b, c, d, a, 0, 20, 0xe9b6c7aa);
  MD5_STEP(G, a, b, c, d, 5, 5, 0xd62f105d);
  MD5_STEP(G, d, a, b, c, 10, 9, 0x02441453);
  MD5_STEP(G, c, d, a, b, 15, 14, 0xd8a1e681);
  MD5_STEP(G, b, c, d, a, 4, 20, 0xe7d3fbc8);
  MD5_STEP(G, a, b, c, d, 9, 5, 0x21e1cde6);
  MD5_STEP(G, d, a, b, c, 14, 9, 0xc33707d6);
  MD5_STEP(G, c, d, a, b, 3, 14, 0xf4d50d87);
  MD5_STEP(G, b, c, d, a, 8, 20, 0x455a14ed);
  MD5_STEP(G, a, b, c, d, 13, 5, 0xa9e3e905);
  MD5_STEP(G, d, a, b, c, 2, 9, 0xfcefa3f8);
  MD5_STEP(G, c, d, a, b, 7, 14, 0x676f02d9);
  MD5_STEP(G, b, c, d, a, 12, 20, 0x8d2a4c8a);
  MD5_STEP(H, a, b, c, d, 5, 4, 0xfffa3942);
  MD5_STEP(H, d, a, b, c, 8, 11, 0x8771f681);
  MD5_STEP(H, c, d, a, b, 11, 16, 0x6d9d6122);
  MD5_STEP(H, b, c, d, a, 14, 23, 0xfde5380c);
  MD5_STEP(H, a, b, c, d, 1, 4, 0xa4beea44);
  MD5_STEP(H, d, a, b, c, 4, 11, 0x4bdecfa9);
  MD5_STEP(H, c, d, a, b, 7, 16, 0xf6bb4b60);
  MD5_STEP(H, b, c, d, a, 10, 23, 0xbebfbc70);
  MD5_STEP(H, a, b, c, d, 13, 4, 0x289b7ec6);
  MD5_STEP(H, d, a, b, c, 0, 11, 0xeaa127fa);
  MD5_STEP(H, c, d, a, b, 3, 16, 0xd4ef3085);
  MD5_STEP(H, b, c, d, a, 6, 23, 0x04881d05);
  MD5_STEP(H, a, b, c, d, 9, 4, 0xd9d4d039);
  MD5_STEP(H, d, a, b, c, 12, 11, 0xe6db99e5);
  MD5_STEP(H, c, d, a, b, 15, 16, 0x1fa27cf8);
  MD5_STEP(H, b, c, d, a, 2, 23, 0xc4ac5665);
  MD5_STEP(I, a, b, c, d, 0, 6, 0xf4292244);
  MD5_STEP(I, d, a, b, c, 7, 10, 0x432aff97);
  MD5_STEP(I, c, d, a, b, 14, 15, 0xab9423a7);
  MD5_STEP(I, b, c, d, a, 5, 21, 0xfc93a039);
  MD5_STEP(I, a, b, c, d, 12, 6, 0x655b59c3);
  MD5_STEP(I, d, a, b, c, 3, 10, 0x8f0ccc92);
  MD5_STEP(I, c, d, a, b, 10, 15, 0xffeff47d);
  MD5_STEP(I, b, c, d, a, 1, 21, 0x85845dd1);
  MD5_STEP(I, a, b, c, d, 8, 6, 0x6fa87e4f);
  MD5_STEP(I, d, a, b, c, 15, 10, 0xfe2ce6e0);
  MD5_STEP(I, c, d, a, b, 6, 15, 0xa3014314);
  MD5_STEP(I, b, c, d, a, 13, 21, 0x4e0811a1);
  MD5_STEP(I, a, b, c, d, 4, 6, 0xf7537e82);
  MD5_STEP(I, d, a, b, c, 11, 10, 0xbd3af235);
  MD5_STEP(I, c, d, a, b, 2, 15, 0x2ad7d2bb);
  MD5_STEP(I, b, c, d, a, 9, 21, 0xeb86d391);
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
}

#undef MD5_STEP

}  // namespace

int v3Md5Init(HashContext* c) {
  auto* s = static_cast<Md5State*>(v3HashStartState(c, sizeof(Md5State)));
  if (s == nullptr) return -3;
  s->h[0] = 0x67452301;
  s->h[1] = 0xefcdab89;
  s->h[2] = 0x98badcfe;
  s->h[3] = 0x10325476;
  return 0;
}

int v3Md5Update(HashContext* c, const u8* data, u64 length) {
  AbsorbBlocks(static_cast<Md5State*>(c->state), data, length, [](u32* h, const u8* p, u64 blocks) { for (u64 b = 0; b < blocks; ++b) Compress(h, p + 64 * b); });
  return 0;
}

int v3Md5Final(u8 digest[V3_DIGEST_SIZE], HashContext* c) {
  auto* s = static_cast<Md5State*>(c->state);
  u8 padding[72];
  (void)v3Md5Update(c, padding, FinalPadding(s, padding, false));
  std::memset(digest, 0, V3_DIGEST_SIZE);
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<u8>(s->h[i / 4] >> (8 * (i % 4)));
  v3HashRelease(s, sizeof *s);
  c->state = nullptr;
  return 0;
}
