// Files and directories: explicit access flags, optional whole-file advisory locks that never wait,
// 64-bit sizes, negative error codes. Every path is normalised first ("|" removed, at most 255
// characters). Deleting a file overwrites its contents with zeros first. A record is used by one thread.
#pragma once

#include "runtime/time.h"
#include "runtime/types.h"

inline constexpr u32 V3_FILE_TEST = 1;       // only test that the path exists
inline constexpr u32 V3_FILE_READ = 2;
inline constexpr u32 V3_FILE_WRITE = 4;
inline constexpr u32 V3_FILE_APPEND = 8;     // every write goes to the end; seeking refused
inline constexpr u32 V3_FILE_CREATE = 16;    // created rw-r--r-- (less the umask)
inline constexpr u32 V3_FILE_TRUNCATE = 32;  // zero-filled, then cut to length 0
inline constexpr u32 V3_FILE_SYNC = 64;      // each write reaches the disk before it returns
inline constexpr u32 V3_FILE_EXECUTABLE = 128;  // created rwxr-x--- (less the umask): an installed core
inline constexpr u32 V3_FILE_PRIVATE = 256;     // created rw------- : settings that may hold a password
inline constexpr u32 V3_FILE_PUBLIC = 512;      // rw-r--r-- whatever the umask: status for another user's reader

inline constexpr u32 V3_LOCK_NONE = 0;
inline constexpr u32 V3_LOCK_SHARED = 1;
inline constexpr u32 V3_LOCK_EXCLUSIVE = 2;
inline constexpr u32 V3_LOCK_RECORDED = 3;   // accepted, no lock taken

// Error codes.
inline constexpr int V3_FILE_EFAIL = -1;        // permission denied or another system failure
inline constexpr int V3_FILE_ENOENT = -2;       // null record, no such file, input/output failure
inline constexpr int V3_FILE_EROFS = -4;        // read-only file system; could not cut to length 0
inline constexpr int V3_FILE_ESHARED = -5;      // shared lock refused; directory could not be made
inline constexpr int V3_FILE_EEXCLUSIVE = -6;   // exclusive lock refused
inline constexpr int V3_FILE_EDIRMODE = -7;
inline constexpr int V3_FILE_EDIROPEN = -8;
inline constexpr int V3_FILE_EDIRPATH = -9;
inline constexpr int V3_FILE_ESTATE = -10;      // not open (or already open, for v3FileOpen)
inline constexpr int V3_FILE_ERANGE = -11;      // count or offset above 2^31 - 1; seek failed
inline constexpr int V3_FILE_EPATH = -12;
inline constexpr int V3_FILE_EFLAGS = -13;
inline constexpr int V3_FILE_ELENGTH = -16;
inline constexpr int V3_FILE_ENULL = -18;

inline constexpr u64 V3_PATH_MAX = 255;
inline constexpr u64 V3_FILE_IO_MAX = 2147483647;

struct RuntimeFile {  // zero it before first use
  char path[V3_PATH_MAX + 1];
  u64 position;
  u64 length;  // the largest length seen
  int descriptor;
  u32 flags;
  u32 lockMode;
  u32 isOpen;
};

struct FileInfo {
  u64 size;
  u32 type;    // 1 regular, 2 directory, 3 device, 4 other
  u32 rights;  // sum of 1 owner read, 6 owner write, 8 owner execute
  v3Time modified;
  v3Time statusChanged;
  v3Time accessed;
};

struct RuntimeDir {  // zero it before first use
  char path[V3_PATH_MAX + 1];
  void* handle;
  u32 isOpen;
  u64 namesRead;
};

// Removes every "|" and checks the length (1 to 255 characters). 0, or -1 when refused.
[[nodiscard]] int v3PathNormalise(char out[V3_PATH_MAX + 1], const char* path);

// Opens a regular file only: a symbolic link as the last component, a FIFO, a device or a directory is
// refused with -1 (never followed, never waited on). An existing file opened V3_FILE_PRIVATE loses its
// group and other rights; one opened V3_FILE_EXECUTABLE becomes executable where it is readable.
[[nodiscard]] int v3FileOpen(RuntimeFile* file, const char* path, u32 flags, u32 lockMode);
// Reads up to count bytes at the current position; *countRead is 0 at the end of the file.
[[nodiscard]] int v3FileRead(void* buffer, u64* countRead, RuntimeFile* file, u64 count);
// Writes all count bytes (at the end in append mode); *countWritten tells how many reached the file.
[[nodiscard]] int v3FileWrite(RuntimeFile* file, u64* countWritten, const void* data, u64 count);
[[nodiscard]] int v3FileSeek(RuntimeFile* file, u64 offset);
[[nodiscard]] int v3FileLength(u64* length, RuntimeFile* file);
// Forces written data to the disk.
[[nodiscard]] int v3FileSync(RuntimeFile* file);
int v3FileClose(RuntimeFile* file);
// Overwrites with zeros in 4096-byte blocks, then removes the name. Only a regular file with a single
// link is overwritten (opened without following links and without blocking); a symbolic link, FIFO,
// device or a file other names still share only loses this name. A missing file is success.
[[nodiscard]] int v3FileDelete(const char* path);
// Renames within one file system, replacing the target. 0 or -1.
[[nodiscard]] int v3FileRename(const char* from, const char* to);
[[nodiscard]] int v3FileInfo(FileInfo* info, const char* path);

inline constexpr u32 V3_DIR_TEST = 1;
inline constexpr u32 V3_DIR_READ = 2;
inline constexpr u32 V3_DIR_CREATE = 4;  // with every missing parent; an existing directory is -5
[[nodiscard]] int v3DirOpen(RuntimeDir* dir, const char* path, u32 mode);
// The next name of a directory opened with mode 2: 0 with the name, 1 at the end, negative on failure.
[[nodiscard]] int v3DirRead(RuntimeDir* dir, char* name, u64 capacity);
int v3DirClose(RuntimeDir* dir);

inline constexpr int V3_DIR_OURS = 0;
inline constexpr int V3_DIR_FOREIGN_OWNER = 1;  // owned by another user than the effective one
inline constexpr int V3_DIR_SHARED_WRITE = 2;   // other users, or a group not the user's primary one, may write
// Whether anyone but the effective user could change what the directory holds (a link is followed to the
// directory it names). A group-writable directory of the user's own primary group is the user's (a
// user-private group with umask 002). One of the three values above, or the file service's code.
[[nodiscard]] int v3DirTrust(const char* path);

// Test seam: the system calls through which file contents are written and synced, so a test can force
// a full disk or a failed sync, or watch the blocks written. Null restores the system's own.
struct FilePlatform {
  long (*write)(int descriptor, const void* data, u64 count);
  int (*sync)(int descriptor);
};
void v3FileSetPlatform(const FilePlatform* platform);
