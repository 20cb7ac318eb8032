// Fuzz entry: the key and signature decoders read only the bytes they are given.
#include <cstdlib>
#include <cstring>

#include "runtime/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  // An exact-size copy, so a read past the end is caught by the address sanitizer.
  auto* copy = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
  std::memcpy(copy, data, size);
  KeyRecord key{};
  SignatureRecord signature{};
  u64 consumed = 0;
  const int keyRc = v3KeyLoad(&key, &consumed, copy, size, nullptr);
  const int sigRc = v3SignatureLoad(&signature, &consumed, copy, size);
  if (keyRc == 0 && sigRc == 0 && key.bits <= 2048) {
    u8 digest[V3_DIGEST_SIZE];
    v3Time time{};
    u8 hashCode = 0, formatCode = 0;
    (void)v3SignatureVerify(digest, &time, &hashCode, &formatCode, &signature, &key);
  }
  v3KeyFree(&key);
  v3SignatureFree(&signature);
  std::free(copy);
  return 0;
}
