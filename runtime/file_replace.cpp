// Atomic replacement over the file service: write a temporary, sync, rename.
#include "runtime/file_replace.h"

#include <cstdio>
#include <cstring>

int v3ReplaceBegin(FileReplacement* replacement, const char* path, u32 modeFlags) {
  if (path == nullptr || v3PathNormalise(replacement->target, path) != 0 ||
      std::snprintf(replacement->temporary, sizeof replacement->temporary, "%s.new", replacement->target) >=
          static_cast<int>(sizeof replacement->temporary)) {
    return V3_FILE_EPATH;
  }
  const int removed = v3FileDelete(replacement->temporary);
  if (removed != 0) return removed;
  const u32 mode = modeFlags & (V3_FILE_EXECUTABLE | V3_FILE_PRIVATE | V3_FILE_PUBLIC);
  return v3FileOpen(&replacement->file, replacement->temporary,
                    V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE | mode, V3_LOCK_NONE);
}

int v3ReplaceWrite(FileReplacement* replacement, const void* data, u64 length) {
  u64 written = 0;
  return length > 0 ? v3FileWrite(&replacement->file, &written, data, length) : 0;
}

int v3ReplaceCommit(FileReplacement* replacement) {
  int rc = v3FileSync(&replacement->file);
  const int closed = v3FileClose(&replacement->file);
  if (rc == 0) rc = closed;
  if (rc == 0) rc = v3FileRename(replacement->temporary, replacement->target);
  if (rc != 0) (void)v3FileDelete(replacement->temporary);
  return rc;
}

void v3ReplaceAbandon(FileReplacement* replacement) {
  if (replacement->file.isOpen) (void)v3FileClose(&replacement->file);
  (void)v3FileDelete(replacement->temporary);
}

int v3FileReplace(const char* path, const void* data, u64 length, u32 modeFlags) {
  FileReplacement replacement{};
  int rc = v3ReplaceBegin(&replacement, path, modeFlags);
  if (rc != 0) return rc;
  rc = v3ReplaceWrite(&replacement, data, length);
  if (rc != 0) {
    v3ReplaceAbandon(&replacement);
    return rc;
  }
  return v3ReplaceCommit(&replacement);
}
