// The core's sandbox over Landlock, seccomp (built with libseccomp), prctl and setrlimit.
#include <errno.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

#include "runtime/memory.h"
#include "runtime/sandbox.h"

namespace {

// The Landlock interface, defined here from the kernel's stable ABI: the system headers of older
// distributions stop at its first version.
#ifndef __NR_landlock_create_ruleset
constexpr long __NR_landlock_create_ruleset = 444;
constexpr long __NR_landlock_add_rule = 445;
constexpr long __NR_landlock_restrict_self = 446;
#endif
constexpr u32 kCreateRulesetVersion = 1u << 0;
constexpr int kRulePathBeneath = 1;

constexpr u64 kExecute = 1ull << 0;
constexpr u64 kWriteFile = 1ull << 1;
constexpr u64 kReadFile = 1ull << 2;
constexpr u64 kReadDir = 1ull << 3;
constexpr u64 kTruncate = 1ull << 14;  // ABI 3
// Every file-system right of ABI 1, then the ones later versions added: refer (2), truncate (3), device
// ioctl (5).
constexpr u64 kFsRightsAbi1 = (1ull << 13) - 1;
constexpr u64 kReferAbi2 = 1ull << 13;
constexpr u64 kIoctlDevAbi5 = 1ull << 15;
constexpr u64 kBindTcp = 1ull << 0;  // ABI 4
constexpr u64 kConnectTcp = 1ull << 1;
constexpr u64 kScopeAbstractUnix = 1ull << 0;  // ABI 6
constexpr u64 kScopeSignal = 1ull << 1;

struct RulesetAttributes {  // struct landlock_ruleset_attr; its size tells the kernel which fields exist
  u64 handledAccessFs;
  u64 handledAccessNet;
  u64 scoped;
};
static_assert(sizeof(RulesetAttributes) == 24);

struct PathBeneath {  // struct landlock_path_beneath_attr, packed as the kernel has it
  u64 allowedAccess;
  s32 parentFd;
} __attribute__((packed));
static_assert(sizeof(PathBeneath) == 12);

int KernelAbi() {
  const long abi = ::syscall(__NR_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
  return abi > 0 ? static_cast<int>(abi) : 0;
}
int (*g_abiProbe)() = KernelAbi;

u64 FsRights(int abi) {
  u64 rights = kFsRightsAbi1;
  if (abi >= 2) rights |= kReferAbi2;
  if (abi >= 3) rights |= kTruncate;
  if (abi >= 5) rights |= kIoctlDevAbi5;
  return rights;
}

// Grants rights beneath path (a directory) or on it (a file); a path that does not exist is skipped.
void Allow(int ruleset, const char* path, u64 rights, bool* failed) {
  const int fd = ::open(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (::fstat(fd, &st) == 0) {
    // A rule on a file may carry only the rights that concern a file.
    if (!S_ISDIR(st.st_mode)) rights &= kExecute | kWriteFile | kReadFile | kTruncate | kIoctlDevAbi5;
    PathBeneath rule{rights, fd};
    if (::syscall(__NR_landlock_add_rule, ruleset, kRulePathBeneath, &rule, 0) != 0) *failed = true;
  }
  ::close(fd);
}

// The Landlock ruleset for a core: a descriptor, or -1 when it could not be made.
int MakeRuleset(int abi, const char* workDirectory, const char* coreFile) {
  const u64 all = FsRights(abi);
  RulesetAttributes attributes{all, abi >= 4 ? kBindTcp | kConnectTcp : 0,
                               abi >= 6 ? kScopeAbstractUnix | kScopeSignal : 0};
  const u64 size = abi >= 6 ? 24 : (abi >= 4 ? 16 : 8);
  const long ruleset = ::syscall(__NR_landlock_create_ruleset, &attributes, size, 0);
  if (ruleset < 0) return -1;
  const int fd = static_cast<int>(ruleset);
  bool failed = false;
  const u64 readExecute = kExecute | kReadFile | kReadDir;
  for (const char* tree : {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/opt", "/etc"}) {
    Allow(fd, tree, readExecute, &failed);
  }
  for (const char* tree : {"/proc", "/sys", "/dev/zero", "/dev/urandom", "/dev/random"}) {
    Allow(fd, tree, kReadFile | kReadDir, &failed);
  }
  Allow(fd, "/dev/null", kReadFile | kWriteFile | (all & kTruncate), &failed);
  Allow(fd, workDirectory, all, &failed);
  Allow(fd, coreFile, kExecute | kReadFile, &failed);
  if (failed) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The seccomp program: sockets of AF_UNIX only, no io_uring (which could open sockets of its own). On i386
// a socket made through socketcall cannot have its family examined, so socketcall's socket is refused.
// Returns the program in a block the caller releases, or null.
void* MakeFilter(u32* length) {
  scmp_filter_ctx context = seccomp_init(SCMP_ACT_ALLOW);
  if (context == nullptr) return nullptr;
  bool ok = seccomp_arch_add(context, SCMP_ARCH_X86) == 0 || seccomp_arch_exist(context, SCMP_ARCH_X86) == 0;
  (void)seccomp_arch_add(context, SCMP_ARCH_X32);
  ok = ok && seccomp_rule_add(context, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 1, SCMP_A0(SCMP_CMP_NE, AF_UNIX)) == 0;
  ok = ok && seccomp_rule_add(context, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socketcall), 1, SCMP_A0(SCMP_CMP_EQ, 1)) == 0;
  ok = ok && seccomp_rule_add(context, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(io_uring_setup), 0) == 0;
  void* program = nullptr;
  const int memory = ok ? ::memfd_create("qvn-core-filter", MFD_CLOEXEC) : -1;
  if (memory >= 0 && seccomp_export_bpf(context, memory) == 0) {
    const off_t size = ::lseek(memory, 0, SEEK_END);
    if (size > 0 && size % sizeof(sock_filter) == 0 && size / sizeof(sock_filter) <= BPF_MAXINSNS) {
      program = v3MemAlloc(static_cast<u64>(size), V3_MEM_NORMAL);
      if (program != nullptr && ::pread(memory, program, static_cast<size_t>(size), 0) != size) {
        v3MemFree(program);
        program = nullptr;
      }
      if (program != nullptr) *length = static_cast<u32>(size / sizeof(sock_filter));
    }
  }
  if (memory >= 0) ::close(memory);
  seccomp_release(context);
  return program;
}

bool SeccompAvailable() { return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0; }

}  // namespace

void v3SandboxSetAbiProbe(int (*probe)()) { g_abiProbe = probe != nullptr ? probe : KernelAbi; }

void v3SandboxPrepare(CoreSandbox* sandbox, const char* workDirectory, const char* coreFile) {
  *sandbox = CoreSandbox{-1, nullptr, 0, 0, 0};
  const int abi = g_abiProbe();
  sandbox->landlockAbi = static_cast<u32>(abi);
  if (abi > 0) sandbox->ruleset = MakeRuleset(abi, workDirectory, coreFile);
  if (sandbox->ruleset < 0) sandbox->missing |= V3_SANDBOX_NO_FILES | V3_SANDBOX_NO_TCP | V3_SANDBOX_NO_SCOPE;
  if (sandbox->ruleset >= 0 && abi < 4) sandbox->missing |= V3_SANDBOX_NO_TCP;
  if (sandbox->ruleset >= 0 && abi < 6) sandbox->missing |= V3_SANDBOX_NO_SCOPE;
  if (SeccompAvailable()) sandbox->filter = MakeFilter(&sandbox->filterLength);
  if (sandbox->filter == nullptr) sandbox->missing |= V3_SANDBOX_NO_FILTER;
}

void v3SandboxRelease(CoreSandbox* sandbox) {
  if (sandbox->ruleset >= 0) ::close(sandbox->ruleset);
  v3MemFree(sandbox->filter);
  *sandbox = CoreSandbox{-1, nullptr, 0, 0, 0};
}

int v3SandboxApply(const CoreSandbox* sandbox) {
  const rlimit noDumps{0, 0};
  const rlimit fileSize{V3_SANDBOX_FILE_SIZE_MAX, V3_SANDBOX_FILE_SIZE_MAX};
  if (::setrlimit(RLIMIT_CORE, &noDumps) != 0 || ::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) return -1;
  // Neither the core nor anything it runs can gain rights, and both confinements below require it.
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
  if (sandbox->ruleset >= 0 && ::syscall(__NR_landlock_restrict_self, sandbox->ruleset, 0) != 0) return -1;
  if (sandbox->filter != nullptr) {
    sock_fprog program{static_cast<unsigned short>(sandbox->filterLength), static_cast<sock_filter*>(sandbox->filter)};
    if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) return -1;
  }
  return 0;
}
