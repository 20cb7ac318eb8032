// Hashes a file with MD5SHA1 through the runtime: bench_digest FILE; prints the seconds and the digest.
#include <chrono>
#include <cstdio>
#include <vector>

#include "runtime/file.h"
#include "runtime/hash.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  RuntimeFile file{};
  if (v3FileOpen(&file, argv[1], V3_FILE_READ, V3_LOCK_SHARED) != 0) return 1;
  HashContext context{};
  if (v3HashBegin(&context, v3Md5Sha1Init, v3Md5Sha1Update, v3Md5Sha1Final) != 0) return 1;
  std::vector<u8> buffer(1 << 20);
  for (u64 got = 1; got > 0;) {
    if (v3FileRead(buffer.data(), &got, &file, buffer.size()) != 0) return 1;
    if (v3HashUpdate(&context, buffer.data(), got) != 0) return 1;
  }
  v3FileClose(&file);
  u8 digest[V3_DIGEST_SIZE];
  if (v3HashEnd(digest, &context) != 0) return 1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f ", seconds);
  for (u8 b : digest) std::printf("%02x", b);
  std::printf("\n");
  return 0;
}
