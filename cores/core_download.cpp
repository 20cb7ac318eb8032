// Core download. Until bundles can be fetched and verified, no core can be installed.
#include "cores/core_download.h"

int DownloadCore(u32, const char*, const char*, u8) { return -1; }
