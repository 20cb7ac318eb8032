// Entry of the console client: start-up, benchmark, the work-cycle thread, then sleep until a signal.
#include "base/log.h"
#include "base/settings.h"
#include "client/startup.h"
#include "client/work_cycle.h"
#include "runtime/process.h"

int main(int argc, char** argv) {
  // A console that went away (a closed pipe, a service without one) must not end the client: console
  // write errors are ignored and the log file still receives everything.
  v3SignalIgnoreBrokenPipe();
  g_settings.argc = argc;
  g_settings.argv = argv;
  g_settings.programName = ProgramNameFromPath(argc > 0 ? argv[0] : nullptr);
  g_runOptions.mode = RunMode::Run;
  LogSetConsoleEcho(1);

  StartClient(&g_runOptions);

  if (g_runOptions.mode != RunMode::QueueInfo) {
    LOG_AT(3, "+ Benchmarking ...\n");
    g_settings.benchmarkResult = g_processorBenchmark();
    LOG_AT(4, "The benchmark result is %u\n", static_cast<u32>(g_settings.benchmarkResult));
  }

  // Every thread but this one keeps SIGINT and SIGTERM blocked, so the shutdown handler only ever runs
  // here, in a thread that holds no console or log lock. New threads inherit the blocked set.
  v3SignalHoldTermination(1);
  u64 threadId = 0;
  if (v3ThreadStart(&threadId, WorkCycle, &g_runOptions, 5242880) != 0) {
    LOG_AT(3, "Error starting client thread\n");
    v3ProcessExit(-1);
  }
  v3SignalHoldTermination(0);
  for (;;) v3Sleep(268435455);
}
