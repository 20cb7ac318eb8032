// Core bundle verification: header, payload digest, signature record, built-in key.
#include "cores/bundle_verify.h"

#include <cstring>

#include "base/log.h"
#include "core_key.h"
#include "runtime/byte_order.h"
#include "runtime/file.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/signature.h"

namespace {

constexpr u8 kCoreHashCode = 5;
constexpr u8 kCoreFormatCode = 0xCC;
constexpr u64 kDigestPiece = 4096;

void LogTime(const char* label, s64 seconds) {
  v3Date d{};
  if (v3TimeToDate(&d, v3Time{seconds, 0}) != 0) d = v3Date{};
  LOG_AT(3, "%s: %.9s %.9s %u, %ld %02u:%02u:%02u UTC\n", label, DayNames[d.dayOfWeek], MonthNames[d.month],
         d.day + 1, static_cast<long>(d.year), d.hour, d.minute, d.second);
}

// The MD5SHA1 digest of the payload, fed in 4096-byte pieces as a file read would deliver them.
int DigestPayload(const u8* payload, u64 length, u8 digest[V3_DIGEST_SIZE]) {
  HashContext context{};
  if (v3HashBegin(&context, v3Md5Sha1Init, v3Md5Sha1Update, v3Md5Sha1Final) != 0) return -1;
  int rc = 0;
  for (u64 at = 0; at < length && rc == 0; at += kDigestPiece) {
    rc = v3HashUpdate(&context, payload + at, length - at < kDigestPiece ? length - at : kDigestPiece);
  }
  const int ended = v3HashEnd(digest, &context);
  return rc == 0 ? ended : rc;
}

// Checks the signature bytes against the digest with the built-in key; logs and returns 0 with the signing
// time, or -1.
int CheckSignature(const u8* bytes, u64 length, const u8 digest[V3_DIGEST_SIZE], s64* signedAtOut) {
  SignatureRecord signature{};
  u64 consumed = 0;
  if (v3SignatureLoad(&signature, &consumed, bytes, length) != 0) {
    LOG_AT(3, "Invalid signature in downloaded core file.\n");
    v3SignatureFree(&signature);
    return -1;
  }
  KeyRecord key{};
  if (v3KeyLoad(&key, &consumed, kCoreSigningKey, sizeof kCoreSigningKey, nullptr) != 0) {
    LOG_AT(3, "Fatal: Could not load public key.\n");
    v3KeyFree(&key);
    v3SignatureFree(&signature);
    return -1;
  }
  u8 signedDigest[V3_DIGEST_SIZE] = {};
  v3Time signedAt{};
  u8 hashCode = 0;
  u8 formatCode = 0;
  int rc = 0;
  if (v3SignatureVerify(signedDigest, &signedAt, &hashCode, &formatCode, &signature, &key) != 0) {
    LOG_AT(3, "Unable to decode signature from downloaded core file.\n");
    rc = -1;
  } else if (v3HashCompare(signedDigest, digest) != 1 || hashCode != kCoreHashCode || formatCode != kCoreFormatCode) {
    LOG_AT(3, "Signature is _NOT_ valid on given file.\n");
    rc = -1;
  } else {
    LOG_AT(3, "Signature is VALID\n");
    LogTime("Created", key.validFrom);
    LogTime("Signed", signedAt.seconds);
    *signedAtOut = signedAt.seconds;
  }
  v3KeyFree(&key);
  v3SignatureFree(&signature);
  return rc;
}

}  // namespace

int VerifyBundleImage(const u8* image, u64 size, BundlePayload* payload) {
  if (size < kBundleHeaderSize) {
    LOG_AT(3, "Could not read compressed core for verification.\n");
    return -1;
  }
  u32 magic = 0;
  u64 payloadLength = 0;
  u64 signatureLength = 0;
  v3LoadBE32(&magic, image + kBundleMagicAt);
  v3LoadBE64(&payloadLength, image + kBundlePayloadLengthAt);
  v3LoadBE64(&signatureLength, image + kBundleSignatureLengthAt);
  if (magic != kBundleMagic) {
    LOG_AT(3, "Bad file format for downloaded core bundle.\n");
    return -1;
  }
  // The payload digest covers what the file holds of the L bytes; a short file fails at the signature.
  const u64 available = size - kBundleHeaderSize;
  const u64 digested = payloadLength < available ? payloadLength : available;
  u8 digest[V3_DIGEST_SIZE];
  if (DigestPayload(image + kBundleHeaderSize, digested, digest) != 0) {
    LOG_AT(3, "Hash error whilst verifying compressed core.\n");
    return -1;
  }
  if (signatureLength > kBundleSignatureMax) {
    LOG_AT(3, "Memory problems.\n");  // no buffer is made for a signature no key could produce
    return -1;
  }
  if (payloadLength > available || signatureLength > available - payloadLength) {
    LOG_AT(3, "Error reading signature from downloaded core file.\n");
    return -1;
  }
  s64 signedAt = 0;
  if (CheckSignature(image + kBundleHeaderSize + payloadLength, signatureLength, digest, &signedAt) != 0) return -1;
  *payload = BundlePayload{image + kBundleHeaderSize, payloadLength, signedAt};
  return 0;
}

int ReadBundleFile(const char* path, u8** image, u64* size) {
  *image = nullptr;
  *size = 0;
  RuntimeFile file{};
  if (v3FileOpen(&file, path, V3_FILE_READ, V3_LOCK_SHARED) != 0) return -1;
  u64 length = 0;
  int rc = v3FileLength(&length, &file) == 0 && length <= kBundleSizeMax ? 0 : -2;
  u8* block = rc == 0 ? static_cast<u8*>(v3MemAlloc(length > 0 ? length : 1, V3_MEM_NORMAL)) : nullptr;
  if (rc == 0 && block == nullptr) rc = -2;
  u64 total = 0;
  while (rc == 0 && total < length) {
    u64 got = 0;
    if (v3FileRead(block + total, &got, &file, length - total) != 0 || got == 0) break;
    total += got;
  }
  v3FileClose(&file);
  if (rc != 0) {
    v3MemFree(block);
    return rc;
  }
  *image = block;
  *size = total;
  return 0;
}

bool TrustsTestKey() { return kCoreKeyIsTest; }

int VerifyCoreBundle(const char* path) {
  u8* image = nullptr;
  u64 size = 0;
  const int read = ReadBundleFile(path, &image, &size);
  if (read == -1) {
    LOG_AT(3, "Error opening compressed core file\n");
    return -1;
  }
  if (read != 0) {
    LOG_AT(3, "Could not read compressed core for verification.\n");
    return -1;
  }
  BundlePayload payload{};
  const int rc = VerifyBundleImage(image, size, &payload);
  v3MemFree(image);
  return rc;
}
