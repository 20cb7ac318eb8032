// Atomic replacement over the file service: write a temporary, sync, rename.
#include "runtime/file_replace.h"

#include <cstdio>
#include <cstring>

#include "runtime/file.h"

int v3FileReplace(const char* path, const void* data, u64 length, bool executable) {
  char temporary[V3_PATH_MAX + 1];
  if (path == nullptr || std::snprintf(temporary, sizeof temporary, "%s.new", path) >= static_cast<int>(sizeof temporary)) {
    return V3_FILE_EPATH;
  }
  RuntimeFile file{};
  const u32 mode = executable ? V3_FILE_EXECUTABLE : 0;
  int rc = v3FileOpen(&file, temporary, V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE | mode, V3_LOCK_NONE);
  if (rc != 0) return rc;
  u64 written = 0;
  rc = length > 0 ? v3FileWrite(&file, &written, data, length) : 0;
  if (rc == 0) rc = v3FileSync(&file);
  const int closed = v3FileClose(&file);
  if (rc == 0) rc = closed;
  if (rc == 0) rc = v3FileRename(temporary, path);
  if (rc != 0) (void)v3FileDelete(temporary);
  return rc;
}
