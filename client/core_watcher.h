// The watcher of one core run: copies the core's log into the client's log line by line and checks the
// unit's progress when the core reports it.
#pragma once

#include <atomic>

#include "runtime/types.h"

struct CoreWatch {
  std::atomic<u32> stop;
  std::atomic<u32> done;
  char logPath[64];
};

// Thread body; the argument is the CoreWatch, which must live until done is set.
void CoreOutputWatcher(void* watch);
