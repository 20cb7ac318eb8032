// Stored RSA keys and signatures (public exponent 17), decoded from their big-endian records, and the
// verification that hands the signed block back to the caller. The decoders read only the bytes given.
#pragma once

#include "runtime/bignum.h"
#include "runtime/hash.h"
#include "runtime/time.h"
#include "runtime/types.h"

inline constexpr u16 V3_KEY_PUBLIC = 5;
inline constexpr u16 V3_KEY_PRIVATE = 10;
inline constexpr u16 V3_SIGNATURE_TYPE = 80;
inline constexpr u64 V3_KEY_HEADER_SIZE = 48;
inline constexpr u64 V3_SIGNATURE_HEADER_SIZE = 34;
inline constexpr u64 V3_SIGNED_BLOCK_SIZE = 42;
// The largest modulus the decoders take: far beyond any real key, small enough that no size overflows.
inline constexpr u32 V3_KEY_MAX_BITS = 65536;

struct KeyRecord {  // zero it before v3KeyLoad
  u16 type;
  u16 reserved;
  u32 bits;
  s64 validFrom;
  u64 keyId;
  s64 validUntil;
  char name[16];
  BigNum numbers[7];  // the modulus first; the other six only in private keys
};

struct SignatureRecord {  // zero it before v3SignatureLoad
  u16 type;
  u16 reserved;
  u32 bits;
  s64 keyValidFrom;
  u64 keyId;
  s64 signingTime;
  u8 hashCode;
  u8 formatCode;
  BigNum value;
};

// 0 with *consumed = 48 + bits/8; -1 null arguments (or a private key without pass phrase); -3 a record
// that does not match its format or is longer than length; -2 no memory.
[[nodiscard]] int v3KeyLoad(KeyRecord* key, u64* consumed, const u8* bytes, u64 length, const char* passPhrase);
void v3KeyFree(KeyRecord* key);
// 0 with *consumed = 34 + bits/8; -1 null arguments or too few bytes; -3 bad header fields; -2 no memory.
[[nodiscard]] int v3SignatureLoad(SignatureRecord* signature, u64* consumed, const u8* bytes, u64 length);
void v3SignatureFree(SignatureRecord* signature);
// 0 when the signature belongs to the key, its power fits, and the signed block's time and codes are valid;
// the block (digest, time, codes) is written from step 6 on even when a later check fails. -1 bad arguments
// or key/code combination; -3 key mismatch, time outside the key's window, or bad block codes; -2 a power
// that does not fit, or no memory.
[[nodiscard]] int v3SignatureVerify(u8 digest[V3_DIGEST_SIZE], v3Time* time, u8* hashCode, u8* formatCode,
                                    const SignatureRecord* signature, const KeyRecord* key);
