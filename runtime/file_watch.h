// Waiting for a directory's files to change, so that a reader of a file another process writes need not
// wake to look: inotify on Linux, with a wake-up that another thread can give. A watch is used by one
// waiting thread; v3FileWatchWake may come from any thread. Nothing here logs.
#pragma once

#include "runtime/types.h"

struct FileWatch {  // zero it before v3FileWatchOpen
  int notify;       // the inotify descriptor, or -1
  int watched;      // its watch
  int wakeRead;     // the self-pipe that v3FileWatchWake writes to
  int wakeWrite;
  u32 isOpen;
};

// Watches directory for files created, written, closed after writing or moved in. 0, or -1 (nothing open).
[[nodiscard]] int v3FileWatchOpen(FileWatch* watch, const char* directory);
// Waits at most limitMs for a change or a wake-up: 1 when something happened (the events are consumed), 0 when
// the time ran out, -1 on failure.
[[nodiscard]] int v3FileWatchWait(FileWatch* watch, u32 limitMs);
// Ends the current or next wait at once. Thread-safe.
void v3FileWatchWake(FileWatch* watch);
// From now on watches only the file at path for writes (the directory's other files no longer wake the
// waiter). 0, or -1 (the old watch stays).
[[nodiscard]] int v3FileWatchFollow(FileWatch* watch, const char* path);
void v3FileWatchClose(FileWatch* watch);
