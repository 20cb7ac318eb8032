// Downloading, verifying and installing a core.
#pragma once

#include "runtime/types.h"

// Fetches the core's bundle from location, verifies it and installs it as coreFile. 0 when installed.
[[nodiscard]] int DownloadCore(u32 coreNumber, const char* coreFile, const char* location, u8 downloadOption);
