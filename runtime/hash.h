// Message digests through one begin/update/end pattern over interchangeable algorithms. Every algorithm
// delivers a 32-byte digest (zero-filled after a shorter result). States live in secure memory when the
// platform has it, else in normal memory, and are wiped before release. A context belongs to one thread.
#pragma once

#include "runtime/types.h"

inline constexpr u64 V3_DIGEST_SIZE = 32;

struct HashContext;
using HashInit = int (*)(HashContext* context);
using HashUpdate = int (*)(HashContext* context, const u8* data, u64 length);
using HashFinal = int (*)(u8 digest[V3_DIGEST_SIZE], HashContext* context);

struct HashContext {
  void* state;
  HashInit init;
  HashUpdate update;
  HashFinal final;
  u32 status;  // 42 begun, 43 updated, 45 init found no memory, 0 otherwise
};

// 0; -4 null arguments; or init's code (-3 no memory).
[[nodiscard]] int v3HashBegin(HashContext* context, HashInit init, HashUpdate update, HashFinal final);
// 0; -4 null; -1 not begun.
[[nodiscard]] int v3HashUpdate(HashContext* context, const void* data, u64 length);
// Writes the digest, releases the state and zeroes the context. 0; -4 null; -1 not begun.
[[nodiscard]] int v3HashEnd(u8 digest[V3_DIGEST_SIZE], HashContext* context);
// 1 when all 32 bytes are equal, else 0.
[[nodiscard]] int v3HashCompare(const u8 a[V3_DIGEST_SIZE], const u8 b[V3_DIGEST_SIZE]);

// The algorithms: MD5 (RFC 1321), SHA-1 (FIPS 180-1), CRC-32 (IEEE 802.3), and MD5SHA1 (MD5's 16 bytes,
// then the first 16 of SHA-1's).
int v3Md5Init(HashContext* context);
int v3Md5Update(HashContext* context, const u8* data, u64 length);
int v3Md5Final(u8 digest[V3_DIGEST_SIZE], HashContext* context);
int v3Sha1Init(HashContext* context);
int v3Sha1Update(HashContext* context, const u8* data, u64 length);
int v3Sha1Final(u8 digest[V3_DIGEST_SIZE], HashContext* context);
int v3Crc32Init(HashContext* context);
int v3Crc32Update(HashContext* context, const u8* data, u64 length);
int v3Crc32Final(u8 digest[V3_DIGEST_SIZE], HashContext* context);
int v3Md5Sha1Init(HashContext* context);
int v3Md5Sha1Update(HashContext* context, const u8* data, u64 length);
int v3Md5Sha1Final(u8 digest[V3_DIGEST_SIZE], HashContext* context);

// Test seam: 0 makes SHA-1 use the portable code even where the processor has SHA instructions.
void v3HashSetSha1Hardware(int allowed);

// Internal to the algorithms: a state block, secure memory first; wiped and released by v3HashRelease.
[[nodiscard]] void* v3HashAllocate(u64 size);
// An init's state: the block stored in the context, or null with the status set to 45 (no memory).
[[nodiscard]] void* v3HashStartState(HashContext* context, u64 size);
void v3HashRelease(void* state, u64 size);
