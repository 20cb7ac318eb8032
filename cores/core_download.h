// Downloading, verifying and installing a core. The bundle is fetched over HTTP from the location that came
// with the unit, read once, verified, and exactly its signed payload decompressed into the core, which
// replaces the old one whole (a temporary beside it, synced, renamed): a core never exists half-written.
#pragma once

#include "runtime/types.h"

// A decompressed core larger than this is refused: a hostile payload cannot fill the disk or the memory.
inline constexpr u64 kCoreSizeMax = 512ull << 20;

// The request path for a bundle: with option bit 0x10 the location's path already ends in a bundle name,
// which is replaced (cut at the first "Core_"); otherwise "<path>/<bundle>". A location without "/" is a
// host alone, and the bundle is asked for at the root. Writes host and path; false when they do not fit.
[[nodiscard]] bool CoreRequest(const char* location, u8 downloadOption, const char* bundleName, char* host,
                               u64 hostCapacity, char* path, u64 pathCapacity);
// Fetches the core's bundle from location, verifies it and installs it as coreFile; 0 when installed. The
// bundle is deleted whatever the outcome.
[[nodiscard]] int DownloadCore(u32 coreNumber, const char* coreFile, const char* location, u8 downloadOption);
// Verifies the bundle and, when authentic and signed no earlier than the newest bundle already accepted for
// coreNumber (and than the build's QVN_CORE_MIN_SIGNED), installs its payload as coreFile and records its
// signing time in coresigned.dat: 0, or -1 (logged). A bundle refused leaves the old core untouched; one
// that fails to unpack removes it.
[[nodiscard]] int UnzipCore(u32 coreNumber, const char* bundleFile, const char* coreFile);
