// The start-up sequence, the shutdown handler and the client's own stop.
#include "client/startup.h"

#include <signal.h>

#include "base/log.h"
#include "base/log_open.h"
#include "base/retry_delay.h"
#include "client/banner.h"
#include "client/core_files.h"
#include "client/core_flags.h"
#include "client/core_launch.h"
#include "client/guest_policy.h"
#include "client/metrics.h"
#include "client/options.h"
#include "client/status_page.h"
#include "cores/bundle_verify.h"
#include "net/assignment_exchange.h"
#include "runtime/console.h"
#include "runtime/cpu_benchmark.h"
#include "runtime/file.h"
#include "runtime/format.h"
#include "runtime/process.h"
#include "runtime/shell.h"
#include "state/client_config.h"
#include "state/dialogue.h"
#include "state/identity.h"
#include "state/queue_ops.h"
#include "state/work_queue.h"

namespace {

// Bad arguments: explain, wait for one key (end of input counts), then end as after a SIGTERM.
[[noreturn]] void RefuseArguments() {
  v3PrintConsole("Bad Argument(s) received\n\n");
  PrintUsage();
  v3PrintConsole("Please note the above recognized flags and try again.\n");
  v3PrintConsole("Press any key to exit.\n");
  char key = 0;
  (void)v3InputRaw(&key, 1, 0);
  ShutdownHandler(SIGTERM);
  v3ProcessExit(0);  // only reached if a deadline interrupt were under way, which it cannot be here
}

void LogArguments() {
  if (g_settings.argc > 1) {
    LogWrite("Arguments: ");
    for (int i = 1; i < g_settings.argc; ++i) LogWrite("%s ", g_settings.argv[i]);
  }
  LogWrite("\n\n");
}

// Loads client.cfg, or writes the defaults and runs the dialogue until the settings load.
void LoadConfiguration(RunOptions* options) {
  if (LoadClientSettings() != 0) {
    (void)WriteDefaultSettings();
    options->mode = RunMode::Configure;
  } else if (options->mode != RunMode::Configure) {
    return;
  }
  RetryDelay(5000, 2880000, 15000);
  for (;;) {
    LogPrint("Configuring Quorvane...\n\n");
    ConfigureInteractively();
    WriteStatusPage();
    if (LoadClientSettings() == 0) return;
    // Without a console nobody can answer: wait between rounds instead of spinning.
    if (DialogueInputEnded()) (void)RetryDelay(0, 0, 0);
  }
}

bool StatusPageExists() {
  FileInfo info{};
  return v3FileInfo(&info, kStatusPageFileName) == 0 && info.size > 0;
}

// The client runs the cores it finds in its directories: a directory another user could write to would
// let them plant one. Such a directory ends the client as the other fatal start-up failures do.
void RequireOwnDirectory(const char* path, const char* name) {
  const int trust = v3DirTrust(path);
  if (trust == V3_DIR_OURS) return;
  if (trust == V3_DIR_FOREIGN_OWNER) {
    LOG_AT(2, "+ The %s belongs to another user; no core will run from it, exiting.\n", name);
  } else if (trust == V3_DIR_SHARED_WRITE) {
    LOG_AT(2, "+ Other users can write to the %s; no core will run from it, exiting.\n", name);
  } else {
    LOG_AT(2, "+ Could not examine the %s, exiting.\n", name);
  }
  v3ProcessExit(-1);
}

void EnsureWorkDirectory() {
  RuntimeDir dir{};
  if (v3DirOpen(&dir, kWorkDirectory, V3_DIR_TEST) != 0) {
    LOG_AT(3, "Work directory not found. Creating...\n");
    if (v3DirOpen(&dir, kWorkDirectory, V3_DIR_CREATE) != 0) {
      LOG_AT(2, "+ Could not access or create work directory, exiting.\n");
      v3ProcessExit(-1);
    }
  }
  RequireOwnDirectory(kWorkDirectory, "work directory");
}

}  // namespace

int StartClient(RunOptions* options) {
  g_settings.editionCode = kLinuxConsoleEdition;
  if (ParseOptions(g_settings.argc, g_settings.argv, options) != 0) RefuseArguments();
  OpenLog();
  PrintBanner();
  LogArguments();
  if (TrustsTestKey()) LOG_AT(1, "- Warning: this build trusts a test key; it must never be released\n");
  RequireOwnDirectory(".", "working directory");
  SetUserIdSource(GetUserId);  // a new installation asks the assignment servers for its ID
  LoadConfiguration(options);
  LoadGuestSettings();
  if (!StatusPageExists()) WriteStatusPage();
  EnsureWorkDirectory();
  if (LoadQueue(&g_workQueue) != 0) CreateQueue(&g_workQueue);
  SetUnitCleaner(CleanUpUnit);
  PurgeUnknownSlots(&g_workQueue, CleanUpUnit);
  StartMetrics();
  return 0;
}

void ShutdownHandler(int signal) {
  if (signal == SIGINT) {
    LOG_AT(6, "***** Got an Activate signal (%u) from OS\n", 2u);
  } else {
    if (g_deadlineInterrupt.load() != 0) return;
    LOG_AT(6, "***** Got a SIGTERM signal (%u) from OS\n", 15u);
  }
  v3ShellContinueAll();  // a paused core, continued, sees its client gone and stops as a running one does
  LogWriteLast("\nQuorvane Client Shutdown.\n");
  v3ProcessExit(0);
}

u64 (*g_processorBenchmark)() = v3CpuBenchmark;

void StopClient() { (void)v3ProcessSignal(v3ProcessId(), SIGTERM); }
