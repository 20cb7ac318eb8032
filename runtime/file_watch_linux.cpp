// File watches over inotify and a self-pipe, waited on with poll.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "runtime/file_watch.h"
#include "runtime/time.h"

int v3FileWatchOpen(FileWatch* watch, const char* directory) {
  *watch = FileWatch{-1, -1, -1, -1, 0};
  int pipeEnds[2];
  const int notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (notify < 0) return -1;
  const int watched = ::inotify_add_watch(notify, directory, IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
  if (watched < 0 || ::pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC) != 0) {
    ::close(notify);
    return -1;
  }
  *watch = FileWatch{notify, watched, pipeEnds[0], pipeEnds[1], 1};
  return 0;
}

int v3FileWatchWait(FileWatch* watch, u32 limitMs) {
  if (watch == nullptr || !watch->isOpen) return -1;
  const u64 start = v3MonotonicMs();
  for (;;) {
    const u32 left = v3MillisecondsLeft(start, limitMs);
    pollfd waiters[2] = {{watch->notify, POLLIN, 0}, {watch->wakeRead, POLLIN, 0}};
    const int ready = ::poll(waiters, 2, left > 2147483647u ? 2147483647 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    // Drain both: one wake-up stands for every change that came before it.
    char events[4096];
    while (::read(watch->notify, events, sizeof events) > 0) {
    }
    while (::read(watch->wakeRead, events, sizeof events) > 0) {
    }
    return 1;
  }
}

void v3FileWatchWake(FileWatch* watch) {
  if (watch == nullptr || !watch->isOpen) return;
  const char byte = 1;
  (void)!::write(watch->wakeWrite, &byte, 1);
}

void v3FileWatchClose(FileWatch* watch) {
  if (watch == nullptr || !watch->isOpen) return;
  ::close(watch->notify);
  ::close(watch->wakeRead);
  ::close(watch->wakeWrite);
  *watch = FileWatch{-1, -1, -1, -1, 0};
}

int v3FileWatchFollow(FileWatch* watch, const char* path) {
  if (watch == nullptr || !watch->isOpen) return -1;
  const int watched = ::inotify_add_watch(watch->notify, path, IN_MODIFY | IN_CLOSE_WRITE);
  if (watched < 0) return -1;
  if (watched != watch->watched) (void)::inotify_rm_watch(watch->notify, watch->watched);
  watch->watched = watched;
  return 0;
}
