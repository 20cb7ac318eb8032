// Shell commands over posix_spawn and waitpid.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <atomic>

#include "runtime/shell.h"

extern char** environ;

namespace {

// How many commands run now; the first saves the interrupt dispositions, the last puts them back.
// The same lock guards the table of running commands, so a signal never reaches a collected child's
// process ID, which the system may already have given to another process.
pthread_mutex_t g_runningLock = PTHREAD_MUTEX_INITIALIZER;
int g_running = 0;
constexpr int kMaxTracked = 16;
// Read without the lock by the signal handlers below, hence atomic.
std::atomic<pid_t> g_tracked[kMaxTracked];
// Whether the command in the same slot was stopped through v3ShellSignal: only such a command is continued,
// as a SIGCONT to a running one could upset its own use of stops (a sanitizer's leak check at exit).
std::atomic<bool> g_stopped[kMaxTracked];

// A Ctrl-C while a command runs is the command's: a stopped (paused) command is continued, so that it
// receives the SIGINT, which its process group got too, and ends as a running one would.
void ContinueOnInterrupt(int) { v3ShellContinueAll(); }
struct sigaction g_savedInt;
struct sigaction g_savedQuit;

void BeginIgnoringInterrupts() {
  pthread_mutex_lock(&g_runningLock);
  if (g_running++ == 0) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction pass {};
    pass.sa_handler = ContinueOnInterrupt;
    pass.sa_flags = SA_RESTART;
    sigemptyset(&pass.sa_mask);
    sigaction(SIGINT, &pass, &g_savedInt);
    sigaction(SIGQUIT, &ignore, &g_savedQuit);
  }
  pthread_mutex_unlock(&g_runningLock);
}

void EndIgnoringInterrupts() {
  pthread_mutex_lock(&g_runningLock);
  if (--g_running == 0) {
    sigaction(SIGINT, &g_savedInt, nullptr);
    sigaction(SIGQUIT, &g_savedQuit, nullptr);
  }
  pthread_mutex_unlock(&g_runningLock);
}

void Track(pid_t child, bool running) {
  pthread_mutex_lock(&g_runningLock);
  for (int i = 0; i < kMaxTracked; ++i) {
    if (g_tracked[i].load() == (running ? 0 : child)) {
      g_stopped[i].store(false);
      g_tracked[i].store(running ? child : 0);
      break;
    }
  }
  pthread_mutex_unlock(&g_runningLock);
}

// Waits until the child has ended, leaving it uncollected (its process ID stays reserved for it).
void WaitForEnd(pid_t child) {
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
}

}  // namespace

void v3ShellContinueAll() {
  for (int i = 0; i < kMaxTracked; ++i) {
    const pid_t child = g_tracked[i].load();
    if (child != 0 && g_stopped[i].exchange(false)) kill(child, SIGCONT);
  }
}

int v3ShellSignal(u64 processId, int signal) {
  if (processId == 0 || (signal != SIGINT && signal != SIGKILL && signal != SIGTERM && signal != SIGSTOP &&
                         signal != SIGCONT)) {
    return -1;
  }
  int rc = -1;
  pthread_mutex_lock(&g_runningLock);
  for (int i = 0; i < kMaxTracked; ++i) {
    const pid_t child = g_tracked[i].load();
    if (child == 0 || static_cast<u64>(child) != processId) continue;
    // A command that was not stopped here has nothing to continue.
    if (signal == SIGCONT && !g_stopped[i].exchange(false)) {
      rc = 0;
      continue;
    }
    rc = kill(child, signal) == 0 ? 0 : -1;
    if (signal == SIGSTOP && rc == 0) g_stopped[i].store(true);
  }
  pthread_mutex_unlock(&g_runningLock);
  return rc;
}

namespace {

constexpr int kDefaultSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGPIPE};

// A sandboxed command needs code of ours between fork and exec, so it is started by hand: only system
// calls run in the child. 0 with the child's process ID, or -1.
int StartConfined(pid_t* child, char** argv, const CoreSandbox* sandbox) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (int s : kDefaultSignals) sigaction(s, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (v3SandboxApply(sandbox) != 0) _exit(127);
    execve("/bin/sh", argv, environ);
    _exit(127);
  }
  *child = pid;
  return 0;
}

int StartSpawned(pid_t* child, char** argv) {
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return -1;
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : kDefaultSignals) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int spawned = posix_spawn(child, "/bin/sh", nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return spawned == 0 ? 0 : -1;
}

}  // namespace

int v3ShellRun(const char* commandLine, std::atomic<u64>* processId, const CoreSandbox* sandbox) {
  if (commandLine == nullptr) return -1;
  // "exec" makes the shell become the command; the command and its arguments stay exactly as given.
  std::string script = "exec ";
  script += commandLine;
  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char* argv[] = {shell, dashC, script.data(), nullptr};

  BeginIgnoringInterrupts();
  pid_t child = 0;
  const int spawned = sandbox != nullptr ? StartConfined(&child, argv, sandbox) : StartSpawned(&child, argv);
  int status = 0;
  int result = -1;
  if (spawned == 0) {
    Track(child, true);
    if (processId != nullptr) processId->store(static_cast<u64>(child));
    WaitForEnd(child);
    if (processId != nullptr) processId->store(0);
    Track(child, false);
    pid_t waited;
    do {
      waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited == child) result = (status >> 8) & 0xFF;
  }
  EndIgnoringInterrupts();
  return result;
}
