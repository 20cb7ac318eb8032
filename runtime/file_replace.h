// Whole-file replacement that never leaves a partial file behind: the new contents go to a temporary
// file beside the target, reach the disk, and are then renamed over it. After a crash at any moment the
// target holds either its old or its new contents.
#pragma once

#include "runtime/types.h"

// 0, or the file service's negative code; on failure the target is untouched and no temporary remains.
// With executable, the new file is rwxr-xr-x (less the umask), else rw-r--r--.
[[nodiscard]] int v3FileReplace(const char* path, const void* data, u64 length, bool executable = false);
