// Files and directories over POSIX descriptors, flock and stat.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "runtime/file.h"

namespace {

long SystemWrite(int fd, const void* data, u64 count) { return ::write(fd, data, count); }
int SystemSync(int fd) { return ::fsync(fd); }

FilePlatform g_platform = {SystemWrite, SystemSync};

// The one place where errno becomes a code of this service.
int ErrnoCode(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case EIO:
      return V3_FILE_ENOENT;
    case EROFS:
      return V3_FILE_EROFS;
    default:
      return V3_FILE_EFAIL;
  }
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int CloseDescriptor(int fd) {
  // Linux releases the descriptor even when close reports EINTR, so it is never retried.
  return ::close(fd);
}

// Writes every byte or fails; *done tells how many were written.
int WriteAll(int fd, const void* data, u64 count, u64* done) {
  *done = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (*done < count) {
    const long n = g_platform.write(fd, bytes + *done, count - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0 ? V3_FILE_ENOENT : ErrnoCode(errno);
    *done += static_cast<u64>(n);
  }
  return 0;
}

int SyncRetrying(int fd) {
  int rc;
  do {
    rc = g_platform.sync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : V3_FILE_ENOENT;
}

// Overwrites [0, length) with zeros, in 4096-byte blocks (8 bytes at a time without the block).
int ZeroFill(int fd, u64 length) {
  if (::lseek(fd, 0, SEEK_SET) < 0) return ErrnoCode(errno);
  static const char kZeros[4096] = {};
  u64 done = 0;
  for (u64 at = 0; at < length;) {
    const u64 piece = length - at < sizeof kZeros ? length - at : sizeof kZeros;
    const int rc = WriteAll(fd, kZeros, piece, &done);
    if (rc != 0) return rc;
    at += piece;
  }
  return 0;
}

bool FlagsValid(u32 flags, u32 lockMode) {
  if (flags >= 1024 || lockMode > 3) return false;
  if (lockMode == V3_LOCK_SHARED && (flags & V3_FILE_WRITE)) return false;
  if ((flags & V3_FILE_TRUNCATE) && !(flags & V3_FILE_WRITE)) return false;
  return (flags & (V3_FILE_READ | V3_FILE_WRITE | V3_FILE_APPEND)) != 0;
}

int SystemOpenFlags(u32 flags) {
  const bool reads = flags & V3_FILE_READ;
  const bool writes = flags & (V3_FILE_WRITE | V3_FILE_APPEND);
  int result = reads && writes ? O_RDWR : (writes ? O_WRONLY : O_RDONLY);
  if (flags & V3_FILE_CREATE) result |= O_CREAT;
  if (flags & V3_FILE_APPEND) result |= O_APPEND;
  // The client's files are regular files named directly: a planted link is refused rather than followed,
  // and a FIFO or device under the name cannot block the open.
  return result | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
}

// The rights a file is created with (less the umask).
mode_t CreationMode(u32 flags) {
  if (flags & V3_FILE_EXECUTABLE) return 0750;
  if (flags & V3_FILE_PRIVATE) return 0600;
  return 0644;
}

// An existing file opened for one of the stricter uses gets the rights that use needs.
void AdjustExistingMode(int fd, u32 flags, mode_t mode) {
  mode &= 0777;
  if (flags & V3_FILE_EXECUTABLE) {
    (void)::fchmod(fd, mode | ((mode & 0440) >> 2));  // executable wherever it is readable, never by others
  } else if ((flags & V3_FILE_PRIVATE) && (mode & 077) != 0) {
    (void)::fchmod(fd, mode & 0700);
  } else if ((flags & V3_FILE_PUBLIC) && mode != 0644) {
    (void)::fchmod(fd, 0644);  // a metrics collector running as another user must read it
  }
}

v3Time FromTimespec(const struct timespec& t) { return v3Time{t.tv_sec - V3_EPOCH_OFFSET, 0}; }

}  // namespace

void v3FileSetPlatform(const FilePlatform* platform) {
  g_platform = platform != nullptr ? *platform : FilePlatform{SystemWrite, SystemSync};
}

int v3PathNormalise(char out[V3_PATH_MAX + 1], const char* path) {
  if (path == nullptr) return -1;
  u64 length = 0;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '|') continue;
    if (length == V3_PATH_MAX) return -1;
    out[length++] = *p;
  }
  out[length] = '\0';
  return length == 0 ? -1 : 0;
}

int v3FileOpen(RuntimeFile* file, const char* path, u32 flags, u32 lockMode) {
  if (file == nullptr) return V3_FILE_ENOENT;
  if (file->isOpen) return V3_FILE_ESTATE;
  if (!FlagsValid(flags, lockMode)) return V3_FILE_EFLAGS;
  char normalised[V3_PATH_MAX + 1];
  if (v3PathNormalise(normalised, path) != 0) return V3_FILE_EPATH;
  std::memcpy(file->path, normalised, sizeof normalised);
  file->flags = flags;
  file->lockMode = lockMode;

  if (flags & V3_FILE_TEST) {
    struct stat st;
    if (::stat(file->path, &st) == 0) return 0;
    return errno == ENOENT || errno == ENOTDIR ? V3_FILE_ENOENT : V3_FILE_EFAIL;
  }

  // Data files are readable by all and executable by none (less the umask); settings that may hold a
  // password are the owner's alone; only an installed core is made executable, by its installer.
  const int fd = OpenRetrying(file->path, SystemOpenFlags(flags), CreationMode(flags));
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM || errno == ELOOP) return V3_FILE_EFAIL;
    return ErrnoCode(errno);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    CloseDescriptor(fd);
    return V3_FILE_EFAIL;
  }
  (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (lockMode == V3_LOCK_SHARED || lockMode == V3_LOCK_EXCLUSIVE) {
    const int operation = (lockMode == V3_LOCK_SHARED ? LOCK_SH : LOCK_EX) | LOCK_NB;
    int rc;
    do {
      rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      CloseDescriptor(fd);
      return lockMode == V3_LOCK_SHARED ? V3_FILE_ESHARED : V3_FILE_EEXCLUSIVE;
    }
  }
  AdjustExistingMode(fd, flags, st.st_mode);
  if (flags & V3_FILE_TRUNCATE) {
    int rc = ZeroFill(fd, static_cast<u64>(st.st_size));
    if (rc == 0 && ::ftruncate(fd, 0) != 0) rc = V3_FILE_EROFS;
    if (rc == 0 && ::lseek(fd, 0, SEEK_SET) < 0) rc = ErrnoCode(errno);
    if (rc != 0) {
      CloseDescriptor(fd);
      return rc;
    }
    st.st_size = 0;
  }
  file->descriptor = fd;
  file->length = static_cast<u64>(st.st_size);
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  file->position = position >= 0 ? static_cast<u64>(position) : ((flags & V3_FILE_APPEND) ? file->length : 0);
  file->isOpen = 1;
  return 0;
}

int v3FileRead(void* buffer, u64* countRead, RuntimeFile* file, u64 count) {
  if (buffer == nullptr || countRead == nullptr) return V3_FILE_ENULL;
  *countRead = 0;
  if (file == nullptr || !file->isOpen) return V3_FILE_ESTATE;
  if (count > V3_FILE_IO_MAX) return V3_FILE_ERANGE;
  auto* bytes = static_cast<char*>(buffer);
  while (*countRead < count) {
    const ssize_t n = ::read(file->descriptor, bytes + *countRead, count - *countRead);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrnoCode(errno);
    if (n == 0) break;
    *countRead += static_cast<u64>(n);
  }
  file->position += *countRead;
  return 0;
}

int v3FileWrite(RuntimeFile* file, u64* countWritten, const void* data, u64 count) {
  if (countWritten == nullptr || data == nullptr) return V3_FILE_ENULL;
  *countWritten = 0;
  if (file == nullptr || !file->isOpen) return V3_FILE_ESTATE;
  if (count > V3_FILE_IO_MAX) return V3_FILE_ERANGE;
  int rc = WriteAll(file->descriptor, data, count, countWritten);
  if (rc == 0 && (file->flags & V3_FILE_SYNC)) rc = SyncRetrying(file->descriptor);
  if (file->flags & V3_FILE_APPEND) {
    const off_t end = ::lseek(file->descriptor, 0, SEEK_CUR);
    file->position = end >= 0 ? static_cast<u64>(end) : file->position + *countWritten;
  } else {
    file->position += *countWritten;
  }
  if (file->position > file->length) file->length = file->position;
  return rc;
}

int v3FileSeek(RuntimeFile* file, u64 offset) {
  if (file == nullptr || !file->isOpen) return V3_FILE_ESTATE;
  if (file->flags & V3_FILE_APPEND) return V3_FILE_EFAIL;
  if (offset > V3_FILE_IO_MAX) return V3_FILE_ERANGE;
  if (::lseek(file->descriptor, static_cast<off_t>(offset), SEEK_SET) < 0) return V3_FILE_ERANGE;
  file->position = offset;
  return 0;
}

int v3FileLength(u64* length, RuntimeFile* file) {
  if (length == nullptr) return V3_FILE_ENULL;
  if (file == nullptr || !file->isOpen) return V3_FILE_ESTATE;
  struct stat st;
  if (::fstat(file->descriptor, &st) != 0) return V3_FILE_ELENGTH;
  *length = static_cast<u64>(st.st_size);
  return 0;
}

int v3FileSync(RuntimeFile* file) {
  if (file == nullptr || !file->isOpen) return V3_FILE_ESTATE;
  return SyncRetrying(file->descriptor);
}

int v3FileClose(RuntimeFile* file) {
  if (file == nullptr || !file->isOpen) return V3_FILE_ESTATE;
  file->isOpen = 0;
  // Closing the descriptor releases its lock.
  return CloseDescriptor(file->descriptor) == 0 ? 0 : V3_FILE_EFAIL;
}

namespace {

// Overwrites a regular file that no other name shares with zeros. A symbolic link, a FIFO, a device or
// a file with further hard links is not written: its content is not ours to wipe (a planted link would
// wipe its target, a FIFO would block). 0 when wiped or not to be wiped.
int WipeIfSolelyOurs(const char* path, const struct stat& named) {
  if (!S_ISREG(named.st_mode) || named.st_nlink != 1) return 0;
  const int fd = OpenRetrying(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == ENOENT || errno == ELOOP) return 0;  // gone, or replaced by a link since
    return errno == EACCES || errno == EPERM ? V3_FILE_EFAIL : ErrnoCode(errno);
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    CloseDescriptor(fd);
    return V3_FILE_EEXCLUSIVE;
  }
  struct stat opened;
  rc = ::fstat(fd, &opened) == 0 ? 0 : V3_FILE_EFAIL;
  if (rc == 0 && S_ISREG(opened.st_mode) && opened.st_nlink == 1) {
    rc = ZeroFill(fd, static_cast<u64>(opened.st_size));
    if (rc == 0) rc = SyncRetrying(fd);
  }
  CloseDescriptor(fd);
  return rc;
}

}  // namespace

int v3FileDelete(const char* path) {
  char normalised[V3_PATH_MAX + 1];
  if (v3PathNormalise(normalised, path) != 0) return V3_FILE_EPATH;
  struct stat named;
  if (::lstat(normalised, &named) != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : V3_FILE_EFAIL;
  const int wiped = WipeIfSolelyOurs(normalised, named);
  if (wiped != 0) return wiped;  // the name stays: a file not wiped is not removed
  if (::unlink(normalised) != 0 && errno != ENOENT) return V3_FILE_EFAIL;
  return 0;
}

int v3FileRename(const char* from, const char* to) {
  char source[V3_PATH_MAX + 1];
  char target[V3_PATH_MAX + 1];
  if (v3PathNormalise(source, from) != 0 || v3PathNormalise(target, to) != 0) return V3_FILE_EPATH;
  return std::rename(source, target) == 0 ? 0 : V3_FILE_EFAIL;
}

int v3FileInfo(FileInfo* info, const char* path) {
  if (info == nullptr) return V3_FILE_ENULL;
  char normalised[V3_PATH_MAX + 1];
  if (v3PathNormalise(normalised, path) != 0) return V3_FILE_EPATH;
  struct stat st;
  if (::stat(normalised, &st) != 0) return errno == ENOENT || errno == ENOTDIR ? V3_FILE_ENOENT : V3_FILE_EFAIL;
  info->size = static_cast<u64>(st.st_size);
  if (S_ISREG(st.st_mode)) {
    info->type = 1;
  } else if (S_ISDIR(st.st_mode)) {
    info->type = 2;
  } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    info->type = 3;
  } else {
    info->type = 4;
  }
  info->rights = ((st.st_mode & S_IRUSR) ? 1 : 0) + ((st.st_mode & S_IWUSR) ? 6 : 0) + ((st.st_mode & S_IXUSR) ? 8 : 0);
  info->modified = FromTimespec(st.st_mtim);
  info->statusChanged = FromTimespec(st.st_ctim);
  info->accessed = FromTimespec(st.st_atim);
  return 0;
}

namespace {

// Makes path and, when a parent is missing, every missing parent from the outermost down.
int MakeDirectoryTree(char* path) {
  if (::mkdir(path, 0750) == 0) return 0;
  if (errno != ENOENT) return V3_FILE_ESHARED;
  for (char* slash = path + 1; *slash != '\0'; ++slash) {
    if (*slash != '/') continue;
    *slash = '\0';
    const bool made = ::mkdir(path, 0750) == 0 || errno == EEXIST;
    *slash = '/';
    if (!made) return V3_FILE_ESHARED;
  }
  return ::mkdir(path, 0750) == 0 ? 0 : V3_FILE_ESHARED;
}

}  // namespace

int v3DirOpen(RuntimeDir* dir, const char* path, u32 mode) {
  if (dir == nullptr) return V3_FILE_ENOENT;
  if (mode != V3_DIR_TEST && mode != V3_DIR_READ && mode != V3_DIR_CREATE) return V3_FILE_EDIRMODE;
  if (dir->isOpen) return V3_FILE_EDIROPEN;
  char normalised[V3_PATH_MAX + 1];
  if (v3PathNormalise(normalised, path) != 0) return V3_FILE_EDIRPATH;
  std::memcpy(dir->path, normalised, sizeof normalised);
  dir->namesRead = 0;

  if (mode == V3_DIR_CREATE) {
    u64 length = std::strlen(normalised);
    if (length > 1 && normalised[length - 1] == '/') normalised[--length] = '\0';
    return MakeDirectoryTree(normalised);
  }
  DIR* handle = ::opendir(normalised);
  if (handle == nullptr) return errno == ENOENT || errno == ENOTDIR ? V3_FILE_ENOENT : V3_FILE_EFAIL;
  if (mode == V3_DIR_TEST) {
    ::closedir(handle);
    return 0;
  }
  dir->handle = handle;
  dir->isOpen = 1;
  return 0;
}

int v3DirRead(RuntimeDir* dir, char* name, u64 capacity) {
  if (name == nullptr || capacity == 0) return V3_FILE_ENULL;
  if (dir == nullptr || !dir->isOpen) return V3_FILE_ESTATE;
  errno = 0;
  const struct dirent* entry = ::readdir(static_cast<DIR*>(dir->handle));
  if (entry == nullptr) return errno == 0 ? 1 : V3_FILE_EFAIL;
  const u64 length = std::strlen(entry->d_name);
  if (length >= capacity) return V3_FILE_ERANGE;
  std::memcpy(name, entry->d_name, length + 1);
  ++dir->namesRead;
  return 0;
}

int v3DirTrust(const char* path) {
  char normalised[V3_PATH_MAX + 1];
  if (v3PathNormalise(normalised, path) != 0) return V3_FILE_EDIRPATH;
  struct stat st;
  if (::stat(normalised, &st) != 0) return errno == ENOENT || errno == ENOTDIR ? V3_FILE_ENOENT : V3_FILE_EFAIL;
  if (st.st_uid != ::geteuid()) return V3_DIR_FOREIGN_OWNER;
  // The sticky bit does not help: others could still plant a core that is missing.
  if ((st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != ::getegid())) return V3_DIR_SHARED_WRITE;
  return V3_DIR_OURS;
}

int v3DirClose(RuntimeDir* dir) {
  if (dir == nullptr || !dir->isOpen) return V3_FILE_ESTATE;
  dir->isOpen = 0;
  return ::closedir(static_cast<DIR*>(dir->handle)) == 0 ? 0 : V3_FILE_EFAIL;
}
