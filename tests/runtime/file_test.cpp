// The file and directory service: flags, locks, error codes, zero-filled deletion, paths.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "runtime/file.h"
#include "runtime/file_replace.h"
#include "support/temp_dir.h"

namespace {

struct OpenCase {
  const char* name;
  u32 flags;
  u32 lock;
  bool exists;
  int rc;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class FileOpenTable : public ::testing::TestWithParam<OpenCase> {};

}  // namespace

TEST_P(FileOpenTable, GivesItsCode) {
  const OpenCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.Path("f.dat");
  if (c.exists) WriteText(path, "content");
  RuntimeFile file{};
  EXPECT_EQ(v3FileOpen(&file, path.c_str(), c.flags, c.lock), c.rc);
  EXPECT_EQ(file.isOpen, c.rc == 0 && !(c.flags & V3_FILE_TEST) ? 1u : 0u);
  if (file.isOpen) v3FileClose(&file);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, FileOpenTable,
    ::testing::Values(OpenCase{"read existing", V3_FILE_READ, 0, true, 0},
                      OpenCase{"read missing", V3_FILE_READ, 0, false, -2},
                      OpenCase{"create missing", V3_FILE_WRITE | V3_FILE_CREATE, 0, false, 0},
                      OpenCase{"write with shared lock", V3_FILE_WRITE, V3_LOCK_SHARED, true, -13},
                      OpenCase{"truncate without write", V3_FILE_READ | V3_FILE_TRUNCATE, 0, true, -13},
                      OpenCase{"no access bit", V3_FILE_CREATE, 0, true, -13},
                      OpenCase{"flags 1024", 1024 | V3_FILE_READ, 0, true, -13},
                      OpenCase{"lock mode 4", V3_FILE_READ, 4, true, -13},
                      OpenCase{"lock mode 3 recorded", V3_FILE_READ, 3, true, 0},
                      OpenCase{"test existing", V3_FILE_TEST | V3_FILE_READ, 0, true, 0},
                      OpenCase{"test missing", V3_FILE_TEST | V3_FILE_READ, 0, false, -2}));

TEST(FileOpen, RecordAndPathErrors) {
  RuntimeFile file{};
  EXPECT_EQ(v3FileOpen(nullptr, "/tmp/x", V3_FILE_READ, 0), -2);
  EXPECT_EQ(v3FileOpen(&file, std::string(300, 'a').c_str(), V3_FILE_READ, 0), -12);
  EXPECT_EQ(v3FileOpen(&file, "", V3_FILE_READ, 0), -12);
  TempDir dir;
  WriteText(dir.Path("f"), "x");
  ASSERT_EQ(v3FileOpen(&file, dir.Path("f").c_str(), V3_FILE_READ, 0), 0);
  EXPECT_EQ(v3FileOpen(&file, dir.Path("f").c_str(), V3_FILE_READ, 0), -10);
  EXPECT_EQ(v3FileClose(&file), 0);
  EXPECT_EQ(v3FileClose(&file), -10);
  u64 n = 0;
  char buf[4];
  EXPECT_EQ(v3FileRead(buf, &n, &file, 1), -10);
  EXPECT_EQ(v3FileWrite(&file, &n, buf, 1), -10);
  EXPECT_EQ(v3FileSeek(&file, 0), -10);
  EXPECT_EQ(v3FileLength(&n, &file), -10);
  EXPECT_EQ(v3FileRead(buf, nullptr, &file, 1), -18);
}

TEST(FileOpen, PermissionDeniedAndReadOnlyFileSystem) {
  TempDir dir;
  RuntimeFile file{};
  if (geteuid() != 0) {
    WriteText(dir.Path("locked"), "x");
    chmod(dir.Path("locked").c_str(), 0);
    EXPECT_EQ(v3FileOpen(&file, dir.Path("locked").c_str(), V3_FILE_READ, 0), -1);
  }
  // /proc is mounted read-only for writes of new files
  EXPECT_LT(v3FileOpen(&file, "/proc/qvn-not-here", V3_FILE_WRITE | V3_FILE_CREATE, 0), 0);
}

TEST(FileIo, ReadWriteSeekLengthAndAppend) {
  TempDir dir;
  const std::string path = dir.Path("io.dat");
  RuntimeFile file{};
  ASSERT_EQ(v3FileOpen(&file, path.c_str(), V3_FILE_READ | V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_SYNC, 0), 0);
  u64 n = 0;
  ASSERT_EQ(v3FileWrite(&file, &n, "hello world", 11), 0);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(file.length, 11u);
  ASSERT_EQ(v3FileSeek(&file, 6), 0);
  char buf[16] = {};
  ASSERT_EQ(v3FileRead(buf, &n, &file, sizeof buf), 0);
  EXPECT_EQ(std::string(buf, n), "world");
  ASSERT_EQ(v3FileRead(buf, &n, &file, sizeof buf), 0);
  EXPECT_EQ(n, 0u);  // end of file
  u64 length = 0;
  ASSERT_EQ(v3FileLength(&length, &file), 0);
  EXPECT_EQ(length, 11u);
  EXPECT_EQ(v3FileSeek(&file, V3_FILE_IO_MAX + 1), -11);
  EXPECT_EQ(v3FileRead(buf, &n, &file, V3_FILE_IO_MAX + 1), -11);
  v3FileClose(&file);

  ASSERT_EQ(v3FileOpen(&file, path.c_str(), V3_FILE_APPEND, 0), 0);
  EXPECT_EQ(v3FileSeek(&file, 0), -1);
  ASSERT_EQ(v3FileWrite(&file, &n, "!", 1), 0);
  v3FileClose(&file);
  EXPECT_EQ(ReadText(path), "hello world!");
}

TEST(FileIo, TruncateEmptiesTheFile) {
  TempDir dir;
  const std::string path = dir.Path("t.dat");
  WriteText(path, "old contents");
  RuntimeFile file{};
  ASSERT_EQ(v3FileOpen(&file, path.c_str(), V3_FILE_WRITE | V3_FILE_TRUNCATE, 0), 0);
  EXPECT_EQ(file.length, 0u);
  u64 n = 0;
  ASSERT_EQ(v3FileWrite(&file, &n, "new", 3), 0);
  v3FileClose(&file);
  EXPECT_EQ(ReadText(path), "new");
}

TEST(FileLocks, NeverWaitAndConflictEvenWithinOneProcess) {
  TempDir dir;
  const std::string path = dir.Path("client.cfg");
  WriteText(path, "[a]\n");
  RuntimeFile reader{};
  RuntimeFile reader2{};
  RuntimeFile writer{};
  ASSERT_EQ(v3FileOpen(&reader, path.c_str(), V3_FILE_READ, V3_LOCK_SHARED), 0);
  EXPECT_EQ(v3FileOpen(&reader2, path.c_str(), V3_FILE_READ, V3_LOCK_SHARED), 0);
  EXPECT_EQ(v3FileOpen(&writer, path.c_str(), V3_FILE_WRITE, V3_LOCK_EXCLUSIVE), -6);
  v3FileClose(&reader);
  v3FileClose(&reader2);
  ASSERT_EQ(v3FileOpen(&writer, path.c_str(), V3_FILE_WRITE, V3_LOCK_EXCLUSIVE), 0);
  EXPECT_EQ(v3FileOpen(&reader, path.c_str(), V3_FILE_READ, V3_LOCK_SHARED), -5);
  v3FileClose(&writer);
}

namespace {

std::vector<u64> g_blocks;
long RecordingWrite(int fd, const void* data, u64 count) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (u64 i = 0; i < count; ++i) {
    if (bytes[i] != 0) return -1;  // only zeros may be written by a delete
  }
  g_blocks.push_back(count);
  return ::write(fd, data, count);
}
long FullDiskWrite(int, const void*, u64) {
  errno = ENOSPC;
  return -1;
}

}  // namespace

TEST(FileDelete, OverwritesWithZerosInBlocksThenRemoves) {
  TempDir dir;
  const std::string path = dir.Path("secret.dat");
  WriteText(path, std::string(10000, 'S'));
  g_blocks.clear();
  const FilePlatform recording{RecordingWrite, [](int fd) { return ::fsync(fd); }};
  v3FileSetPlatform(&recording);
  const int rc = v3FileDelete(path.c_str());
  v3FileSetPlatform(nullptr);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(g_blocks, (std::vector<u64>{4096, 4096, 1808}));
  FileInfo info{};
  EXPECT_EQ(v3FileInfo(&info, path.c_str()), -2);
  EXPECT_EQ(v3FileDelete(path.c_str()), 0);  // missing: success
  EXPECT_EQ(v3FileDelete(std::string(300, 'a').c_str()), -12);
}

TEST(FileDelete, AFileThatCannotBeWipedIsKept) {
  TempDir dir;
  const std::string path = dir.Path("keep.dat");
  WriteText(path, "data");
  const FilePlatform full{FullDiskWrite, [](int fd) { return ::fsync(fd); }};
  v3FileSetPlatform(&full);
  const int rc = v3FileDelete(path.c_str());
  v3FileSetPlatform(nullptr);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(ReadText(path), "data");
}

TEST(FileWrite, FullDiskIsReported) {
  TempDir dir;
  RuntimeFile file{};
  ASSERT_EQ(v3FileOpen(&file, dir.Path("x").c_str(), V3_FILE_WRITE | V3_FILE_CREATE, 0), 0);
  const FilePlatform full{FullDiskWrite, [](int fd) { return ::fsync(fd); }};
  v3FileSetPlatform(&full);
  u64 n = 99;
  EXPECT_EQ(v3FileWrite(&file, &n, "abc", 3), -1);
  v3FileSetPlatform(nullptr);
  EXPECT_EQ(n, 0u);
  v3FileClose(&file);
}

TEST(FileInfo, TypeRightsAndTimes) {
  TempDir dir;
  const std::string path = dir.Path("f");
  WriteText(path, "12345");
  chmod(path.c_str(), 0700);
  FileInfo info{};
  ASSERT_EQ(v3FileInfo(&info, path.c_str()), 0);
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.type, 1u);
  EXPECT_EQ(info.rights, 15u);
  EXPECT_EQ(info.modified.fraction, 0u);
  EXPECT_GT(info.modified.seconds, 800000000);
  chmod(path.c_str(), 0400);
  ASSERT_EQ(v3FileInfo(&info, path.c_str()), 0);
  EXPECT_EQ(info.rights, 1u);
  ASSERT_EQ(v3FileInfo(&info, dir.path().c_str()), 0);
  EXPECT_EQ(info.type, 2u);
  ASSERT_EQ(v3FileInfo(&info, "/dev/null"), 0);
  EXPECT_EQ(info.type, 3u);
  EXPECT_EQ(v3FileInfo(nullptr, path.c_str()), -18);
}

TEST(Paths, BarsAreRemovedAndLongPathsRefused) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.Path("work").c_str(), 0750), 0);
  RuntimeDir d{};
  EXPECT_EQ(v3DirOpen(&d, dir.Path("wo|rk").c_str(), V3_DIR_TEST), 0);
  char out[V3_PATH_MAX + 1];
  ASSERT_EQ(v3PathNormalise(out, "a|b||c"), 0);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(v3PathNormalise(out, std::string(255, 'x').c_str()), 0);
  EXPECT_EQ(v3PathNormalise(out, std::string(256, 'x').c_str()), -1);
  EXPECT_EQ(v3PathNormalise(out, "|||"), -1);
  EXPECT_EQ(v3DirOpen(&d, std::string(300, 'd').c_str(), V3_DIR_TEST), -9);
}

TEST(Directories, CreateTestAndRead) {
  TempDir dir;
  RuntimeDir d{};
  EXPECT_EQ(v3DirOpen(&d, dir.Path("one").c_str(), V3_DIR_TEST), -2);
  ASSERT_EQ(mkdir(dir.Path("one").c_str(), 0750), 0);
  // Only the first level exists: the second and third are made, the trailing "/" dropped.
  EXPECT_EQ(v3DirOpen(&d, dir.Path("one/two/three/").c_str(), V3_DIR_CREATE), 0);
  EXPECT_EQ(v3DirOpen(&d, dir.Path("one/two/three").c_str(), V3_DIR_TEST), 0);
  EXPECT_EQ(v3DirOpen(&d, dir.Path("one/two").c_str(), V3_DIR_CREATE), -5);  // exists already
  EXPECT_EQ(v3DirOpen(&d, dir.Path("one").c_str(), 3), -7);
  EXPECT_EQ(v3DirOpen(nullptr, dir.Path("one").c_str(), V3_DIR_TEST), -2);

  ASSERT_EQ(v3DirOpen(&d, dir.Path("one").c_str(), V3_DIR_READ), 0);
  EXPECT_EQ(v3DirOpen(&d, dir.Path("one").c_str(), V3_DIR_READ), -8);
  std::vector<std::string> names;
  char name[256];
  int rc;
  while ((rc = v3DirRead(&d, name, sizeof name)) == 0) names.push_back(name);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(std::find(names.begin(), names.end(), "two"), names.end());
  EXPECT_EQ(v3DirClose(&d), 0);
}

TEST(FileCreate, DataFilesAreNeverExecutable) {
  TempDir dir;
  const mode_t previous = umask(022);
  RuntimeFile file{};
  ASSERT_EQ(v3FileOpen(&file, dir.Path("data.dat").c_str(), V3_FILE_WRITE | V3_FILE_CREATE, 0), 0);
  v3FileClose(&file);
  umask(previous);
  struct stat st;
  ASSERT_EQ(stat(dir.Path("data.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// A service's umask keeps its files private; the metrics copy for a collector running as another user
// is readable by all whatever the umask, and is still never executable.
TEST(FileCreate, APublicFileIsReadableByAllWhateverTheUmask) {
  TempDir dir;
  const mode_t previous = umask(077);
  const int replaced = v3FileReplace(dir.Path("qvn3.prom").c_str(), "m 1\n", 4, V3_FILE_PUBLIC);
  const int plain = v3FileReplace(dir.Path("queue.dat").c_str(), "q", 1);
  umask(previous);
  ASSERT_EQ(replaced, 0);
  ASSERT_EQ(plain, 0);
  struct stat st;
  ASSERT_EQ(stat(dir.Path("qvn3.prom").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ASSERT_EQ(stat(dir.Path("queue.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(FileCreate, SettingsAreTheOwnersAloneAndACoreIsNotOthersToRun) {
  TempDir dir;
  const mode_t previous = umask(022);
  const struct {
    const char* name;
    u32 mode;
    mode_t expected;
  } cases[] = {
      {"data.dat", 0, 0644}, {"client.cfg", V3_FILE_PRIVATE, 0600}, {"QvnCore_1.exe", V3_FILE_EXECUTABLE, 0750}};
  for (const auto& c : cases) {
    // a temporary left world-readable by an earlier crash does not pass its rights on
    WriteText(dir.Path(c.name) + ".new", "left over");
    chmod((dir.Path(c.name) + ".new").c_str(), 0666);
    ASSERT_EQ(v3FileReplace(dir.Path(c.name).c_str(), "new", 3, c.mode), 0) << c.name;
    struct stat st;
    ASSERT_EQ(stat(dir.Path(c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << c.name;
    EXPECT_EQ(ReadText(dir.Path(c.name)), "new");
  }
  // An existing settings file opened for a private use loses what others could read.
  WriteText(dir.Path("old.cfg"), "proxy_passwd=secret\n");
  chmod(dir.Path("old.cfg").c_str(), 0644);
  RuntimeFile file{};
  ASSERT_EQ(v3FileOpen(&file, dir.Path("old.cfg").c_str(), V3_FILE_WRITE | V3_FILE_PRIVATE, 0), 0);
  v3FileClose(&file);
  umask(previous);
  struct stat st;
  ASSERT_EQ(stat(dir.Path("old.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(FileOpen, OnlyARegularFileNamedDirectlyIsOpened) {
  TempDir dir;
  // What another user could plant under a name the client writes: the target of a link keeps its content
  // and rights whatever the open asks, and a FIFO refuses at once instead of blocking the client.
  WriteText(dir.Path("precious.txt"), "keep me");
  chmod(dir.Path("precious.txt").c_str(), 0600);
  ASSERT_EQ(symlink(dir.Path("precious.txt").c_str(), dir.Path("wudata_00.dat").c_str()), 0);
  ASSERT_EQ(symlink(dir.Path("precious.txt").c_str(), dir.Path("QvnCore_1.exe.new").c_str()), 0);
  ASSERT_EQ(symlink(dir.Path("nowhere").c_str(), dir.Path("dangling").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(mkdir(dir.Path("directory").c_str(), 0750), 0);
  const struct {
    const char* name;
    u32 flags;
  } cases[] = {
      {"wudata_00.dat", V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE},
      {"wudata_00.dat", V3_FILE_READ},
      {"QvnCore_1.exe.new", V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE | V3_FILE_EXECUTABLE},
      {"dangling", V3_FILE_WRITE | V3_FILE_CREATE},
      {"fifo", V3_FILE_READ},
      {"fifo", V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE},
      {"directory", V3_FILE_READ},
  };
  for (const auto& c : cases) {
    RuntimeFile file{};
    EXPECT_EQ(v3FileOpen(&file, dir.Path(c.name).c_str(), c.flags, 0), -1) << c.name << " " << c.flags;
    EXPECT_EQ(file.isOpen, 0u);
  }
  struct stat st;
  ASSERT_EQ(stat(dir.Path("precious.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadText(dir.Path("precious.txt")), "keep me");
  EXPECT_NE(lstat(dir.Path("nowhere").c_str(), &st), 0) << "nothing is created through a dangling link";
  // Replacing a file whose temporary name is a planted link removes the link, not its target.
  ASSERT_EQ(v3FileReplace(dir.Path("QvnCore_1.exe").c_str(), "core", 4, V3_FILE_EXECUTABLE), 0);
  EXPECT_EQ(ReadText(dir.Path("precious.txt")), "keep me");
  EXPECT_EQ(ReadText(dir.Path("QvnCore_1.exe")), "core");
}

TEST(FileDelete, WipesOnlyARegularFileWithASingleName) {
  TempDir dir;
  // A link planted where a work file is expected: the link goes, its target keeps its content.
  WriteText(dir.Path("precious.txt"), "keep me");
  ASSERT_EQ(symlink(dir.Path("precious.txt").c_str(), dir.Path("wudata_00.dat").c_str()), 0);
  EXPECT_EQ(v3FileDelete(dir.Path("wudata_00.dat").c_str()), 0);
  struct stat st;
  EXPECT_NE(lstat(dir.Path("wudata_00.dat").c_str(), &st), 0);
  EXPECT_EQ(ReadText(dir.Path("precious.txt")), "keep me");
  // A dangling link is simply removed.
  ASSERT_EQ(symlink(dir.Path("nowhere").c_str(), dir.Path("dangling").c_str()), 0);
  EXPECT_EQ(v3FileDelete(dir.Path("dangling").c_str()), 0);
  EXPECT_NE(lstat(dir.Path("dangling").c_str(), &st), 0);
  // Content that another hard link still names is not ours to wipe.
  ASSERT_EQ(link(dir.Path("precious.txt").c_str(), dir.Path("second").c_str()), 0);
  EXPECT_EQ(v3FileDelete(dir.Path("second").c_str()), 0);
  EXPECT_EQ(ReadText(dir.Path("precious.txt")), "keep me");
  // A FIFO is unlinked without blocking on an open that no writer would ever complete.
  ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0644), 0);
  EXPECT_EQ(v3FileDelete(dir.Path("fifo").c_str()), 0);
  EXPECT_NE(lstat(dir.Path("fifo").c_str(), &st), 0);
  // The one name of a regular file: wiped and removed, as always.
  EXPECT_EQ(v3FileDelete(dir.Path("precious.txt").c_str()), 0);
  EXPECT_NE(lstat(dir.Path("precious.txt").c_str(), &st), 0);
}
