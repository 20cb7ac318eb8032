// Core launch: the command line, the shell run, and the watcher around it.
#include "client/core_launch.h"

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/settings.h"
#include "client/core_flags.h"
#include "client/core_watcher.h"
#include "runtime/file.h"
#include "runtime/process.h"
#include "runtime/sandbox.h"
#include "runtime/shell.h"
#include "state/client_config.h"

namespace {

constexpr u64 kCommandLineLimit = 374;

// Appends a formatted piece, cut so that the whole line stays within the limit.
template <typename... Args>
void Append(char* line, const char* format, Args... args) {
  const u64 used = std::strlen(line);
  if (used >= kCommandLineLimit) return;
  char piece[kCommandLineCapacity];
  std::snprintf(piece, sizeof piece, format, args...);
  std::strncat(line, piece, kCommandLineLimit - used);
}

// Says what the kernel could not confine, for each core run.
void LogSandboxGaps(u32 missing) {
  if (missing & V3_SANDBOX_NO_FILES) {
    LOG_AT(3, "- Core sandbox: kernel lacks file rules; core may read and write this user's files\n");
  }
  if ((missing & V3_SANDBOX_NO_TCP) && (missing & V3_SANDBOX_NO_FILTER)) {
    LOG_AT(3, "- Core sandbox: kernel lacks network rules; core may use the network\n");
  } else if (missing & V3_SANDBOX_NO_FILTER) {
    LOG_AT(3, "- Core sandbox: kernel lacks system-call filters; core may open sockets other than TCP\n");
  }
  if (missing & V3_SANDBOX_NO_SCOPE) {
    LOG_AT(3, "- Core sandbox: kernel lacks signal scoping; core may signal this user's processes\n");
  }
}

}  // namespace

void BuildCoreCommandLine(char out[kCommandLineCapacity], const char* core, const char* dir, const char* nn,
                          u32 cleanUp) {
  out[0] = '\0';
  Append(out, "./%s -dir %s -suffix %s", core, dir, nn);
  if (cleanUp) Append(out, " -cleanup");
  if (g_clientSettings.corePriority != 0) Append(out, " -priority %d", g_clientSettings.corePriority);
  if (g_clientSettings.cpuUsage != 100) Append(out, " -cpu %d", g_clientSettings.cpuUsage);
  if (!g_clientSettings.useAssembly) Append(out, " -noassembly");
  if (g_restartFlag.exchange(0) == 1) Append(out, " -notermcheck");
  if (g_settings.forceAssembly) Append(out, " -forceasm");
  Append(out, " -lifeline %u\n", static_cast<u32>(v3ProcessId()));
}

u32 LaunchCore(const char* core, const char* dir, const char* nn, u32 cleanUp) {
  char commandLine[kCommandLineCapacity];
  BuildCoreCommandLine(commandLine, core, dir, nn, cleanUp);
  CoreWatch watch{};
  std::snprintf(watch.logPath, sizeof watch.logPath, "%slogfile_%s.txt", dir, nn);
  (void)v3FileDelete(watch.logPath);

  bool watching = false;
  if (!cleanUp) {
    // The watcher sleeps until the core writes into its directory (without change notices it looks every
    // second instead).
    (void)v3FileWatchOpen(&watch.changes, dir);
    u64 thread = 0;
    watching = v3ThreadStart(&thread, CoreOutputWatcher, &watch, 8192) == 0;
    if (!watching) LOG_AT(3, "Warning: Couldn't start output thread for work unit %s\n", nn);
    char stamp[64];
    FormatTimestamp(stamp, sizeof stamp, 1);
    LOG_AT(3, "Working on Unit %s %s\n", nn, stamp);
    LOG_AT(3, "+ Working ...\n");
    LOG_AT(8, "- Calling '%s'\n\n", commandLine);
  }
  // Work runs and clean-up runs alike are confined: both run the downloaded code.
  const bool confined = g_clientSettings.sandboxCores;
  CoreSandbox sandbox{};
  if (confined) {
    v3SandboxPrepare(&sandbox, dir, core);
    if (!cleanUp) LogSandboxGaps(sandbox.missing);
  }
  g_coreRunning = 1;
  const int exitCode = v3ShellRun(commandLine, cleanUp ? nullptr : &g_coreProcess, confined ? &sandbox : nullptr);
  g_coreRunning = 0;
  if (confined) v3SandboxRelease(&sandbox);
  const u32 status = exitCode < 0 ? START_FAILED : static_cast<u32>(exitCode);
  if (watching) {
    StopCoreWatch(&watch);
    while (watch.done.load() == 0) v3Sleep(20);
  }
  v3FileWatchClose(&watch.changes);
  return status;
}
