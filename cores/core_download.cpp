// Core download and installation.
#include "cores/core_download.h"

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/settings.h"
#include "build_config.h"
#include "cores/bundle_verify.h"
#include "cores/core_signing_record.h"
#include "net/exchange_failures.h"
#include "net/http_exchange.h"
#include "runtime/codec.h"
#include "runtime/file.h"
#include "runtime/file_replace.h"
#include "runtime/memory.h"
#include "runtime/shell.h"

namespace {

// Input and output move in pieces of this size.
constexpr u64 kCorePiece = 131072;

// Decompresses exactly the payload into out, which must hold one whole bzip2 stream ending within it and
// expanding to at most kCoreSizeMax bytes. The cap is the output buffer's own, so a payload that expands
// without end is refused the moment it would pass it. 0, or -1 after logging which step failed.
int Decompress(const BundlePayload& payload, ByteBuffer* out) {
  CodecStream stream{};
  if (v3BufferInit(out, 4096, V3_BUFFER_FIFO, 4096, nullptr, 0) != 0 || v3BufferSetLimit(out, kCoreSizeMax) != 0 ||
      v3DecompressInit(out, &stream, v3Bzip2EncodeInit, v3Bzip2EncodeUpdate, v3Bzip2EncodeEnd, v3Bzip2DecodeInit,
                       v3Bzip2DecodeUpdate, v3Bzip2DecodeEnd, V3_CODEC_DECODE, 0, nullptr) != 0) {
    LOG_AT(3, "UnzipCore: Couldn't v3DecompressInit\n");
    return -1;
  }
  bool failed = false;
  for (u64 at = 0; at < payload.length && !failed; at += kCorePiece) {
    const u64 piece = payload.length - at < kCorePiece ? payload.length - at : kCorePiece;
    failed = v3Decompress(out, &stream, payload.data + at, piece) != 0;
  }
  // Only the signed bytes count: a stream they do not complete is not a core.
  if (failed || !v3Bzip2DecodeComplete(&stream)) {
    LOG_AT(3, "UnzipCore: Couldn't v3Decompress\n");
    (void)v3DecompressEnd(out, &stream);
    return -1;
  }
  if (v3DecompressEnd(out, &stream) != 0) {
    LOG_AT(3, "UnzipCore: Couldn't v3DecompressEnd\n");
    return -1;
  }
  return 0;
}

// Writes the decompressed core beside the old one, in pieces, and renames it over it, executable. 0 or -1
// (logged).
int InstallCore(const char* coreFile, ByteBuffer* out) {
  const u64 size = v3BufferLength(out);
  FileReplacement replacement{};
  if (v3ReplaceBegin(&replacement, coreFile, V3_FILE_EXECUTABLE) != 0) {
    LOG_AT(3, "- Couldn't open file %s \n", coreFile);
    return -1;
  }
  static thread_local u8 piece[kCorePiece];
  for (u64 length; (length = v3BufferRead(piece, sizeof piece, out)) > 0;) {
    if (v3ReplaceWrite(&replacement, piece, length) != 0) {
      LOG_AT(3, "Error writing %u bytes to output file\n", static_cast<u32>(length));
      v3ReplaceAbandon(&replacement);
      return -1;
    }
  }
  if (v3ReplaceCommit(&replacement) != 0) {
    LOG_AT(3, "Error writing %u bytes to output file\n", static_cast<u32>(size));
    return -1;
  }
  LOG_AT(3, "Decompressed %s (%u bytes) successfully\n", coreFile, static_cast<u32>(size));
  return 0;
}

// A validly signed bundle may still be one the client must not take: signed before the release's floor,
// or before the newest one already accepted for this core number (a replayed old core). 0 or -1 (logged).
int CheckSigningTime(u32 coreNumber, s64 signedAt, CoreSigningRecord* record) {
  if (signedAt < static_cast<s64>(QVN_CORE_MIN_SIGNED)) {
    LOG_AT(3, "Core was signed before the oldest signing time this client accepts.\n");
    return -1;
  }
  if (LoadSigningRecord(record) < 0) {
    LOG_AT(3, "- %s is damaged; it starts afresh\n", kSigningRecordFileName);
  }
  s64 accepted = 0;
  if (AcceptedSigningTime(record, coreNumber, &accepted) && signedAt < accepted) {
    LOG_AT(3, "Core was signed before the one already accepted for this core number.\n");
    return -1;
  }
  return 0;
}

}  // namespace

bool CoreRequest(const char* location, u8 downloadOption, const char* bundleName, char* host, u64 hostCapacity,
                 char* path, u64 pathCapacity) {
  const char* slash = std::strchr(location, '/');
  const u64 hostLength = slash != nullptr ? static_cast<u64>(slash - location) : std::strlen(location);
  if (hostLength >= hostCapacity) return false;
  std::memcpy(host, location, hostLength);
  host[hostLength] = '\0';
  const char* pathPart = slash != nullptr ? slash : "";
  int written;
  if (downloadOption & 0x10) {
    // The path names a bundle already: everything from its first "Core_" gives way to ours.
    const char* cut = std::strstr(pathPart, "Core_");
    const int keep = static_cast<int>(cut != nullptr ? cut - pathPart : std::strlen(pathPart));
    written = std::snprintf(path, pathCapacity, "%s%.*s%s", slash != nullptr ? "" : "/", keep, pathPart, bundleName);
  } else {
    written = std::snprintf(path, pathCapacity, "%s/%s", pathPart, bundleName);
  }
  return written >= 0 && static_cast<u64>(written) < pathCapacity;
}

int UnzipCore(u32 coreNumber, const char* bundleFile, const char* coreFile) {
  LOG_AT(3, "Verifying core %s...\n", bundleFile);
  // The bundle is read once: the bytes verified are the bytes unpacked, whatever happens to the file.
  u8* image = nullptr;
  u64 size = 0;
  const int read = ReadBundleFile(bundleFile, &image, &size);
  BundlePayload payload{};
  if (read != 0) {
    LOG_AT(3, read == -1 ? "Error opening compressed core file\n" : "Could not read compressed core for verification.\n");
  }
  static thread_local CoreSigningRecord record;
  if (read != 0 || VerifyBundleImage(image, size, &payload) != 0 ||
      CheckSigningTime(coreNumber, payload.signedAt, &record) != 0) {
    LOG_AT(3, "Failed to verify core\n");
    v3MemFree(image);
    return -1;
  }
  LOG_AT(3, "\n");
  LOG_AT(3, "Trying to unzip core %s\n", coreFile);
  ByteBuffer out{};
  int rc = Decompress(payload, &out);
  if (rc == 0) rc = InstallCore(coreFile, &out);
  // A verified core that could not be unpacked is gone rather than half there: the next pass downloads it.
  if (rc != 0) (void)v3FileDelete(coreFile);
  if (rc == 0 && NoteSigningTime(&record, coreNumber, payload.signedAt) && SaveSigningRecord(&record) != 0) {
    LOG_AT(3, "- Could not save %s\n", kSigningRecordFileName);
  }
  v3BufferFree(&out);
  v3MemFree(image);
  return rc;
}

int DownloadCore(u32 coreNumber, const char* coreFile, const char* location, u8 downloadOption) {
  LOG_AT(3, "+ Downloading new core: %s\n", coreFile);
  char bundle[32];
  std::snprintf(bundle, sizeof bundle, "Core_%x.qvn", coreNumber);
  char host[160];
  char path[320];
  const char* failedStep = nullptr;
  if (!CoreRequest(location, downloadOption, bundle, host, sizeof host, path, sizeof path)) {
    failedStep = "download";
  } else {
    LOG_AT(6, "Downloading core (%s from %s)\n", path, host);
    if (HTTPDownloadFile(host, path, bundle, kBundleSizeMax) != 0) {
      failedStep = "download";
    } else if (UnzipCore(coreNumber, bundle, coreFile) != 0) {
      failedStep = "extract";
    }
  }
  // No bundle lingers, complete or partial: the next attempt fetches it afresh.
  (void)v3FileDelete(bundle);
  if (failedStep != nullptr) {
    LOG_AT(3, "+ Error: Could not %s core\n", failedStep);
    CountExchangeFailure(Exchange::CoreDownload);
    return -1;
  }
  if (g_settings.freeBsdBranding) {
    char command[96];
    std::snprintf(command, sizeof command, "brandelf -t Linux %s", coreFile);
    (void)v3ShellRun(command);  // its outcome changes nothing
  }
  LOG_AT(3, "+ Core successfully engaged\n");
  return 0;
}
