// The start-up sequence, the shutdown handler and the client's own stop.
#include "client/startup.h"

#include <signal.h>

#include "client/banner.h"
#include "client/core_interrupt.h"
#include "client/log.h"
#include "client/log_open.h"
#include "client/options.h"
#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/process.h"

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

}  // namespace

int StartClient(RunOptions* options) {
  g_settings.editionCode = kLinuxConsoleEdition;
  if (ParseOptions(g_settings.argc, g_settings.argv, options) != 0) RefuseArguments();
  OpenLog();
  PrintBanner();
  LogArguments();
  return 0;
}

void ShutdownHandler(int signal) {
  if (signal == SIGINT) {
    LOG_AT(6, "***** Got an Activate signal (%u) from OS\n", 2u);
  } else {
    if (g_deadlineInterrupt.load() != 0) return;
    LOG_AT(6, "***** Got a SIGTERM signal (%u) from OS\n", 15u);
  }
  LogWrite("\nQuorvane Client Shutdown.\n");
  v3ProcessExit(0);
}

void StopClient() { (void)v3ProcessSignal(v3ProcessId(), SIGTERM); }
