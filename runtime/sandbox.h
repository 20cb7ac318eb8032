// Confinement of a core run with the kernel's own mechanisms, so that a core, however it was signed, can
// only spend CPU time: Landlock (read and execute the system's trees, read /proc, /sys and the harmless
// devices, everything inside the work directory, read and execute its own file, nothing else; no TCP bind
// or connect; no signal to and no abstract socket of a process outside), a seccomp filter (no socket of a
// family other than AF_UNIX on x86-64, i386 and x32, no io_uring), no_new_privs, no core dumps and a
// file-size limit. What the kernel lacks is left out and reported, never refused.
// Everything that allocates or opens happens in v3SandboxPrepare, in the parent; v3SandboxApply runs in
// the child between fork and exec and makes system calls only. Nothing here logs.
#pragma once

#include "runtime/types.h"

// What the kernel does not offer, as bits of CoreSandbox::missing.
inline constexpr u32 V3_SANDBOX_NO_FILES = 1;   // no Landlock: the core reaches every file the user can
inline constexpr u32 V3_SANDBOX_NO_TCP = 2;     // Landlock without TCP rules (ABI below 4)
inline constexpr u32 V3_SANDBOX_NO_SCOPE = 4;   // Landlock without signal and abstract-socket scoping (ABI below 6)
inline constexpr u32 V3_SANDBOX_NO_FILTER = 8;  // no seccomp filter: sockets of every family stay open

// No single file a core writes may grow past this.
inline constexpr u64 V3_SANDBOX_FILE_SIZE_MAX = 4ull << 30;

struct CoreSandbox {  // zero it before v3SandboxPrepare
  int ruleset;        // the Landlock ruleset's descriptor, or -1
  void* filter;       // the seccomp program (an array of struct sock_filter), or null
  u32 filterLength;   // its instructions
  u32 missing;        // V3_SANDBOX_NO_* bits
  u32 landlockAbi;    // what the kernel reported (0: none)
};

// Prepares the confinement of a core that works in workDirectory and is the executable coreFile (paths as
// the core will use them, relative to the current directory). Always usable afterwards: what the kernel
// lacks, or what could not be set up, is in missing. REQUIRES: a zeroed record.
void v3SandboxPrepare(CoreSandbox* sandbox, const char* workDirectory, const char* coreFile);
// Releases what v3SandboxPrepare made (in the parent, after the child has started).
void v3SandboxRelease(CoreSandbox* sandbox);
// Confines the calling process (the child, before exec): async-signal-safe. 0, or -1 when a prepared part
// could not be applied (the caller must not exec then).
[[nodiscard]] int v3SandboxApply(const CoreSandbox* sandbox);

// Test seam: the Landlock ABI version the kernel reports (0: no Landlock). Null restores the kernel's own.
void v3SandboxSetAbiProbe(int (*probe)());
