// The watcher of one core run: copies the core's log into the client's log line by line and checks the
// unit's progress when the core reports it.
#pragma once

#include <atomic>

#include "runtime/file_watch.h"
#include "runtime/types.h"

// REQUIRES: changes opened on the directory of logPath before the thread starts (it may be closed: the
// watcher then looks every second); stop set with a wake-up of changes (StopCoreWatch).
struct CoreWatch {
  std::atomic<u32> stop;
  std::atomic<u32> done;
  char logPath[64];
  FileWatch changes;
};

// Thread body; the argument is the CoreWatch, which must live until done is set. It wakes when the core
// writes (lines reach the log at once), and otherwise only to check the pause conditions.
void CoreOutputWatcher(void* watch);
// Tells the watcher to drain the core's last lines and end.
void StopCoreWatch(CoreWatch* watch);
