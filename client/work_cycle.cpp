// The work cycle. It owns the client's end: its first act is to install the shutdown handler.
#include "client/work_cycle.h"

#include <signal.h>

#include "client/startup.h"
#include "runtime/process.h"

void WorkCycle(void*) {
  (void)v3SignalRegister(SIGINT, ShutdownHandler);
  (void)v3SignalRegister(SIGTERM, ShutdownHandler);
  // No units can be run yet: the thread waits until a signal ends the client.
  for (;;) v3Sleep(268435455);
}
