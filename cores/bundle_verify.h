// Core bundles: a 512-byte header (magic 0xDEAF0FAD, payload length L at 16, signature length S at 24,
// big-endian), L bytes of bzip2 payload at 512, then S bytes of signature record. A bundle is authentic when
// its signature, made with the private half of the key built into the client, signs the MD5SHA1 digest of
// exactly those L payload bytes. Every outcome is logged here.
#pragma once

#include "runtime/types.h"

inline constexpr u32 kBundleMagic = 0xDEAF0FAD;
inline constexpr u64 kBundleHeaderSize = 512;
inline constexpr u64 kBundleMagicAt = 0;
inline constexpr u64 kBundlePayloadLengthAt = 16;
inline constexpr u64 kBundleSignatureLengthAt = 24;
// No real signature record is larger than one for the biggest key the decoders take; a larger S is refused
// before anything is allocated for it.
inline constexpr u64 kBundleSignatureMax = 34 + 65536 / 8;
// A bundle is read whole into memory: a hostile or mistaken location cannot make it larger than this.
inline constexpr u64 kBundleSizeMax = 64ull << 20;

// Where an authentic bundle's payload lies within its image, and when it was signed.
struct BundlePayload {
  const u8* data;
  u64 length;
  s64 signedAt;  // seconds since 2000-01-01 UTC, from the verified signature
};

// Verifies an image of a whole bundle file (the bytes after the signature are not examined): 0 with the
// payload's place, or -1 after logging why it is refused.
[[nodiscard]] int VerifyBundleImage(const u8* image, u64 size, BundlePayload* payload);
// Reads a bundle file whole (shared, non-waiting lock; at most kBundleSizeMax bytes) into a block the caller
// releases with v3MemFree: 0, -1 when it cannot be opened, -2 when it cannot be read or is too large.
[[nodiscard]] int ReadBundleFile(const char* path, u8** image, u64* size);
// Whether the built-in key is one whose private half is in the repository (the tests' and the demo's builds).
[[nodiscard]] bool TrustsTestKey();
// Reads and verifies the bundle at path: 0 when authentic, -1 otherwise (logged). The file is not changed.
[[nodiscard]] int VerifyCoreBundle(const char* path);
