// Start-up of the client and the ways it ends.
#pragma once

#include "base/settings.h"

// Runs the start-up sequence on the main thread; returns 0 or ends the process.
int StartClient(RunOptions* options);
// The SIGINT/SIGTERM handler; also called with 15 to end after bad arguments. Logs, then exits with 0.
// A SIGTERM during a deadline interrupt is ignored.
void ShutdownHandler(int signal);
// Ends the client through its own SIGTERM, so that the usual shutdown path runs.
void StopClient();
// The processor benchmark start-up runs (v3CpuBenchmark; the test client may shorten it).
extern u64 (*g_processorBenchmark)();
