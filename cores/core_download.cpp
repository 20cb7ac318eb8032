// Core download and installation.
#include "cores/core_download.h"

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/settings.h"
#include "cores/bundle_verify.h"
#include "net/http_exchange.h"
#include "runtime/codec.h"
#include "runtime/file.h"
#include "runtime/file_replace.h"
#include "runtime/memory.h"
#include "runtime/shell.h"

namespace {

constexpr u64 kCodecPiece = 4096;  // small input pieces keep a bomb's output within reach of the cap

// Decompresses exactly the payload into out, which must hold one whole bzip2 stream ending within it and
// expanding to at most kCoreSizeMax bytes. 0, or -1 after logging which step failed.
int Decompress(const BundlePayload& payload, ByteBuffer* out) {
  CodecStream stream{};
  if (v3DecompressInit(out, &stream, v3Bzip2EncodeInit, v3Bzip2EncodeUpdate, v3Bzip2EncodeEnd, v3Bzip2DecodeInit,
                       v3Bzip2DecodeUpdate, v3Bzip2DecodeEnd, V3_CODEC_DECODE, 0, nullptr) != 0) {
    LOG_AT(3, "UnzipCore: Couldn't v3DecompressInit\n");
    return -1;
  }
  bool failed = false;
  for (u64 at = 0; at < payload.length && !failed; at += kCodecPiece) {
    const u64 piece = payload.length - at < kCodecPiece ? payload.length - at : kCodecPiece;
    failed = v3Decompress(out, &stream, payload.data + at, piece) != 0 || v3BufferLength(out) > kCoreSizeMax;
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

// Writes the decompressed core beside the old one and renames it over it, executable. 0 or -1 (logged).
int InstallCore(const char* coreFile, ByteBuffer* out) {
  const u64 size = v3BufferLength(out);
  const u8* data = size > 0 ? v3BufferData(out) : nullptr;
  if (v3FileReplace(coreFile, data, size, V3_FILE_EXECUTABLE) != 0) {
    LOG_AT(3, "Error writing %u bytes to output file\n", static_cast<u32>(size));
    return -1;
  }
  LOG_AT(3, "Decompressed %s (%u bytes) successfully\n", coreFile, static_cast<u32>(size));
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

int UnzipCore(const char* bundleFile, const char* coreFile) {
  LOG_AT(3, "Verifying core %s...\n", bundleFile);
  // The bundle is read once: the bytes verified are the bytes unpacked, whatever happens to the file.
  u8* image = nullptr;
  u64 size = 0;
  const int read = ReadBundleFile(bundleFile, &image, &size);
  BundlePayload payload{};
  if (read != 0) {
    LOG_AT(3, read == -1 ? "Error opening compressed core file\n" : "Could not read compressed core for verification.\n");
  }
  if (read != 0 || VerifyBundleImage(image, size, &payload) != 0) {
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
    } else if (UnzipCore(bundle, coreFile) != 0) {
      failedStep = "extract";
    }
  }
  // No bundle lingers, complete or partial: the next attempt fetches it afresh.
  (void)v3FileDelete(bundle);
  if (failedStep != nullptr) {
    LOG_AT(3, "+ Error: Could not %s core\n", failedStep);
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
