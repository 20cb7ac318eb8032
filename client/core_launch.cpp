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
    u64 thread = 0;
    watching = v3ThreadStart(&thread, CoreOutputWatcher, &watch, 8192) == 0;
    if (!watching) LOG_AT(3, "Warning: Couldn't start output thread for work unit %s\n", nn);
    char stamp[64];
    FormatTimestamp(stamp, sizeof stamp, 1);
    LOG_AT(3, "Working on Unit %s %s\n", nn, stamp);
    LOG_AT(3, "+ Working ...\n");
    LOG_AT(8, "- Calling '%s'\n\n", commandLine);
  }
  g_coreRunning = 1;
  const int exitCode = v3ShellRun(commandLine, cleanUp ? nullptr : &g_coreProcess);
  g_coreRunning = 0;
  const u32 status = exitCode < 0 ? START_FAILED : static_cast<u32>(exitCode);
  if (watching) {
    watch.stop = 1;
    while (watch.done.load() == 0) v3Sleep(250);
  }
  return status;
}
