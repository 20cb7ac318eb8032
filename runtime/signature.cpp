// Key and signature records, and RSA verification with exponent 17.
#include "runtime/signature.h"

#include <cstring>

#include "runtime/byte_order.h"
#include "runtime/memory.h"

namespace {

u16 Load16(const u8* p) {
  u16 v;
  v3LoadBE16(&v, p);
  return v;
}
u32 Load32(const u8* p) {
  u32 v;
  v3LoadBE32(&v, p);
  return v;
}
u64 Load64(const u8* p) {
  u64 v;
  v3LoadBE64(&v, p);
  return v;
}

bool AllowedHashCode(u8 code) {
  return code == 0 || code == 5 || code == 6 || code == 9 || code == 10 || code == 15 || code == 255;
}
bool AllowedFormatCode(u8 code) { return code == 0x33 || code == 0xCC; }
// Sizes the decoders accept: a modulus of whole 16-bit steps from 512 bits up to the cap.
bool UsableBits(u32 bits) { return bits >= 512 && bits <= V3_KEY_MAX_BITS && bits % 16 == 0; }

}  // namespace

int v3KeyLoad(KeyRecord* key, u64* consumed, const u8* bytes, u64 length, const char* passPhrase) {
  if (key == nullptr || consumed == nullptr || bytes == nullptr) return -1;
  if (length < V3_KEY_HEADER_SIZE) return -3;  // not even a header: never read past what was given
  const u16 type = Load16(bytes);
  const u32 bits = Load32(bytes + 4);
  if ((type != V3_KEY_PUBLIC && type != V3_KEY_PRIVATE) || Load16(bytes + 2) != 0 || !UsableBits(bits)) return -3;
  const u64 size = V3_KEY_HEADER_SIZE + bits / 8;
  if (size > length) return -3;
  if (type == V3_KEY_PRIVATE && passPhrase == nullptr) return -1;
  if (type == V3_KEY_PRIVATE) return -3;  // private key records are not read by this client
  if (v3BigFromBytes(&key->numbers[0], bytes + V3_KEY_HEADER_SIZE, bits) != 0) {
    v3BigFree(&key->numbers[0]);
    return -2;
  }
  key->type = type;
  key->reserved = 0;
  key->bits = bits;
  key->validFrom = static_cast<s64>(Load64(bytes + 8));
  key->keyId = Load64(bytes + 16);
  key->validUntil = static_cast<s64>(Load64(bytes + 24));
  std::memset(key->name, 0, sizeof key->name);
  if (std::memchr(bytes + 32, 0, 16) != nullptr) std::memcpy(key->name, bytes + 32, 16);
  *consumed = size;
  return 0;
}

void v3KeyFree(KeyRecord* key) {
  if (key == nullptr) return;
  for (BigNum& n : key->numbers) v3BigFree(&n);
  std::memset(static_cast<void*>(key), 0, sizeof *key);
}

int v3SignatureLoad(SignatureRecord* sig, u64* consumed, const u8* bytes, u64 length) {
  if (sig == nullptr || consumed == nullptr || bytes == nullptr) return -1;
  if (length < V3_SIGNATURE_HEADER_SIZE) return -3;  // not even a header: never read past what was given
  const u32 bits = Load32(bytes + 4);
  if (std::memcmp(bytes, "\x00\x50\x00\x00", 4) != 0 || !UsableBits(bits) || !AllowedHashCode(bytes[32]) ||
      !AllowedFormatCode(bytes[33])) {
    return -3;
  }
  const u64 size = V3_SIGNATURE_HEADER_SIZE + bits / 8;
  if (length < size) return -1;
  if (v3BigFromBytes(&sig->value, bytes + V3_SIGNATURE_HEADER_SIZE, bits) != 0) {
    v3BigFree(&sig->value);
    return -2;
  }
  sig->type = V3_SIGNATURE_TYPE;
  sig->reserved = 0;
  sig->bits = bits;
  sig->keyValidFrom = static_cast<s64>(Load64(bytes + 8));
  sig->keyId = Load64(bytes + 16);
  sig->signingTime = static_cast<s64>(Load64(bytes + 24));
  sig->hashCode = bytes[32];
  sig->formatCode = bytes[33];
  *consumed = size;
  return 0;
}

void v3SignatureFree(SignatureRecord* sig) {
  if (sig == nullptr) return;
  v3BigFree(&sig->value);
  std::memset(static_cast<void*>(sig), 0, sizeof *sig);
}

int v3SignatureVerify(u8 digest[V3_DIGEST_SIZE], v3Time* time, u8* hashCode, u8* formatCode,
                      const SignatureRecord* sig, const KeyRecord* key) {
  if (digest == nullptr || time == nullptr || hashCode == nullptr || formatCode == nullptr || sig == nullptr ||
      key == nullptr || key->bits < 512) {
    return -1;
  }
  const u8 code = sig->hashCode;
  if (key->type == V3_KEY_PUBLIC) {
    if (code != 5 && code != 6 && code != 9 && code != 10 && code != 15 && code != 255) return -1;
  } else if (key->type != V3_KEY_PRIVATE || code != 0) {
    return -1;
  }
  if (sig->keyId != key->keyId || sig->keyValidFrom != key->validFrom || sig->bits != key->bits) return -3;
  if (key->bits % 8 != 0 || key->bits > V3_KEY_MAX_BITS) return -2;

  BigNum exponent{};
  BigNum power{};
  int rc = key->type == V3_KEY_PUBLIC ? v3BigSet(&exponent, 17) : v3BigCopy(&exponent, &key->numbers[1]);
  if (rc == 0) rc = v3BigModExp(&power, &sig->value, &exponent, &key->numbers[0]);
  const u64 width = key->bits - 8;
  u8* text = rc == 0 ? static_cast<u8*>(v3MemAlloc(width / 8, V3_MEM_NORMAL)) : nullptr;
  if (text == nullptr || v3BigToBytes(text, &power, width, width) != 0) rc = -2;
  if (rc == 0) {
    const u8* block = text + width / 8 - V3_SIGNED_BLOCK_SIZE;
    const s64 signedAt = static_cast<s64>(Load64(block));
    *time = v3Time{signedAt, 0};
    *hashCode = block[8];
    *formatCode = block[9];
    std::memcpy(digest, block + 10, V3_DIGEST_SIZE);
    if (signedAt < key->validFrom || signedAt > key->validUntil) {
      rc = -3;
    } else if (!AllowedHashCode(block[8]) || !AllowedFormatCode(block[9])) {
      rc = -3;
    }
  } else {
    rc = -2;
  }
  v3MemFree(text);
  v3BigFree(&exponent);
  v3BigFree(&power);
  return rc;
}
