// Process, thread, lock, signal and sleep services over POSIX.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

#include "runtime/process.h"

namespace {

// Plain pointer: process-wide state must stay trivially destructible, since exit runs while threads live.
void (*g_exitHook)() = nullptr;

struct ThreadStart {
  v3ThreadEntry entry;
  void* argument;
};

void* RunThread(void* raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.entry(start.argument);
  return nullptr;
}

}  // namespace

u64 v3ProcessId() { return static_cast<u64>(getpid()); }

int v3ProcessSignal(u64 processId, int signal) {
  const auto pid = static_cast<pid_t>(processId);
  if (signal == 0) return (kill(pid, 0) == 0 || errno != ESRCH) ? 0 : -1;
  if (signal != SIGINT && signal != SIGKILL && signal != SIGTERM) return -1;
  return kill(pid, signal) == 0 ? 0 : -1;
}

void v3ProcessSetExitHook(void (*hook)()) { g_exitHook = hook; }

void v3ProcessExit(s32 status) {
  if (g_exitHook != nullptr) g_exitHook();
  std::exit(status & 0xFF);
}

int v3ThreadStart(u64* threadId, v3ThreadEntry entry, void* argument, u64 /*stackSize*/) {
  if (threadId != nullptr) *threadId = 0;
  if (entry == nullptr) return -1;
  auto* start = new (std::nothrow) ThreadStart{entry, argument};
  if (start == nullptr) return -1;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, RunThread, start) != 0) {
    delete start;
    return -1;
  }
  pthread_detach(thread);  // never joined: the thread ends when its entry returns
  if (threadId != nullptr) *threadId = static_cast<u64>(thread);
  return 0;
}

int v3MutexLock(v3Mutex* m, int mode) {
  if (m == nullptr || (mode != V3_MUTEX_TRY && mode != V3_MUTEX_WAIT)) return -1;
  if (m->marker != 42) {
    if (pthread_mutex_init(&m->mutex, nullptr) != 0) return -1;
    m->marker = 42;
  }
  const int rc = mode == V3_MUTEX_WAIT ? pthread_mutex_lock(&m->mutex) : pthread_mutex_trylock(&m->mutex);
  return rc == 0 ? 0 : -1;
}

int v3MutexUnlock(v3Mutex* m) {
  if (m == nullptr || m->marker != 42) return -1;
  return pthread_mutex_unlock(&m->mutex) == 0 ? 0 : -1;
}

void v3MutexDestroy(v3Mutex* m) {
  if (m == nullptr || m->marker != 42) return;
  pthread_mutex_destroy(&m->mutex);
  m->marker = 0;
}

int v3Sleep(u32 milliseconds) {
  // nanosleep resumes after a signal handler returns, so the thread sleeps its whole time.
  struct timespec rest;
  rest.tv_sec = milliseconds / 1000;
  rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
  return 0;
}

int v3SignalRegister(int signal, v3SignalHandler handler) {
  if (signal != SIGINT && signal != SIGTERM) return -1;
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(signal, &action, nullptr) == 0 ? 0 : -1;
}

void v3SignalIgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

void v3SignalHoldTermination(int hold) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}
