// Process, thread, lock, signal and sleep services. Everything here may be called from any thread.
#pragma once

#include <pthread.h>

#include "runtime/types.h"

[[nodiscard]] u64 v3ProcessId();
// Signal 0 probes for existence (0 exists, -1 not); 2, 9 and 15 are sent (0 or -1); any other signal is -1
// and nothing is sent. Process ID 0 means the caller's whole process group.
[[nodiscard]] int v3ProcessSignal(u64 processId, int signal);
// Ends the process through the C library's exit (streams flushed, exit handlers run); -1 becomes 255.
[[noreturn]] void v3ProcessExit(s32 status);
// A clean-up that v3ProcessExit runs before exit, for runtime services that own process-wide resources.
void v3ProcessSetExitHook(void (*hook)());

using v3ThreadEntry = void (*)(void* argument);
// Starts a detached thread running entry(argument); the stack size is accepted and not applied.
// Writes the thread ID (0 on failure) and returns 0 or -1.
[[nodiscard]] int v3ThreadStart(u64* threadId, v3ThreadEntry entry, void* argument, u64 stackSize);

// A zero-filled record is ready to use: the first lock creates the platform mutex.
// REQUIRES: the first lock of a record does not race with another first lock of the same record.
struct v3Mutex {
  u32 marker;  // 42 once the platform mutex exists
  pthread_mutex_t mutex;
};
inline constexpr int V3_MUTEX_TRY = 13;
inline constexpr int V3_MUTEX_WAIT = 14;
[[nodiscard]] int v3MutexLock(v3Mutex* m, int mode);
int v3MutexUnlock(v3Mutex* m);
void v3MutexDestroy(v3Mutex* m);

// Blocks the calling thread; whole seconds first, then the remaining milliseconds. Always 0.
int v3Sleep(u32 milliseconds);

using v3SignalHandler = void (*)(int signal);
// Only SIGINT (2) and SIGTERM (15) are accepted; 0 or -1.
[[nodiscard]] int v3SignalRegister(int signal, v3SignalHandler handler);
// Ignores SIGPIPE for the whole process: a write to a closed pipe or socket then fails with an error
// instead of ending the process. Commands run through v3ShellRun still start with the default.
void v3SignalIgnoreBrokenPipe();
// Blocks (1) or unblocks (0) SIGINT and SIGTERM in the calling thread; threads it starts afterwards inherit
// the setting. Used so that only a thread that holds no lock ever runs the termination handler.
void v3SignalHoldTermination(int hold);
