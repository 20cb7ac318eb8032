// Whole-file replacement that never leaves a partial file behind: the new contents go to a temporary
// file beside the target ("<path>.new"), reach the disk, and are then renamed over it. After a crash at
// any moment the target holds either its old or its new contents.
#pragma once

#include "runtime/file.h"
#include "runtime/types.h"

// A replacement written in pieces. One owner; zero it before v3ReplaceBegin.
struct FileReplacement {
  RuntimeFile file;
  char temporary[V3_PATH_MAX + 1];
  char target[V3_PATH_MAX + 1];
};

// Starts writing the new contents of path. modeFlags is 0 (rw-r--r--), V3_FILE_PRIVATE (rw-------) or
// V3_FILE_EXECUTABLE (rwxr-x---), less the umask, or V3_FILE_PUBLIC (rw-r--r-- whatever the umask); a
// temporary left by an earlier crash is removed first, so the new file always has exactly these rights. 0 or the file service's code.
[[nodiscard]] int v3ReplaceBegin(FileReplacement* replacement, const char* path, u32 modeFlags);
// Appends a piece: 0 or the file service's code (the replacement must then be abandoned).
[[nodiscard]] int v3ReplaceWrite(FileReplacement* replacement, const void* data, u64 length);
// Syncs the temporary and renames it over the target: 0, or the code after abandoning it.
[[nodiscard]] int v3ReplaceCommit(FileReplacement* replacement);
// Closes and removes the temporary; the target is untouched.
void v3ReplaceAbandon(FileReplacement* replacement);

// The whole replacement in one call: 0, or the file service's negative code; on failure the target is
// untouched and no temporary remains.
[[nodiscard]] int v3FileReplace(const char* path, const void* data, u64 length, u32 modeFlags = 0);
