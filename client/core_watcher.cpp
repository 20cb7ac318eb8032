// Following the core's log file while it grows.
#include "client/core_watcher.h"

#include <cstring>
#include <string>

#include "base/log.h"
#include "client/core_flags.h"
#include "client/guest_policy.h"
#include "client/unit_progress.h"
#include "runtime/file.h"
#include "runtime/process.h"
#include "runtime/strings.h"
#include "runtime/time.h"

namespace {

// Longest piece handed on at once, as a 999-byte line buffer gives them.
constexpr u64 kLinePiece = 998;

// Reads whole lines from a file that another process is still writing: a line is handed on once its
// newline has arrived (or it reaches the piece limit); the rest waits for more data unless draining.
class LineReader {
 public:
  explicit LineReader(RuntimeFile* file) : file_(file) {}
  bool Next(std::string* line, bool drain) {
    for (;;) {
      const size_t newline = pending_.find('\n');
      if (newline != std::string::npos && newline < kLinePiece) return Take(newline + 1, line);
      if (pending_.size() >= kLinePiece) return Take(kLinePiece, line);
      char buffer[4096];
      u64 got = 0;
      if (v3FileRead(buffer, &got, file_, sizeof buffer) != 0 || got == 0) {
        if (drain && !pending_.empty()) return Take(pending_.size(), line);
        return false;
      }
      pending_.append(buffer, got);
    }
  }

 private:
  bool Take(size_t count, std::string* line) {
    line->assign(pending_, 0, count);
    pending_.erase(0, count);
    return true;
  }
  RuntimeFile* file_;
  std::string pending_;
};

// The core's own text goes to the console and the log: its control bytes are shown as "?" (its line
// ends stay line ends).
void LogCoreLine(std::string* line) {
  const bool ended = !line->empty() && line->back() == '\n';
  v3MaskControls(line->data(), line->size() - (ended ? 1 : 0));
  LOG_AT(3, "%s", line->c_str());
}

bool ReportsProgress(const std::string& line) {
  return line.rfind("Finished", 0) == 0 || line.rfind("Writing local files", 0) == 0;
}

// Waits for the core to write, for a wake-up, or for the next check of the pause conditions.
void AwaitChange(CoreWatch* watch, u64 nextCheckMs) {
  const u64 now = v3MonotonicMs();
  const u64 left = nextCheckMs > now ? nextCheckMs - now : 0;
  if (watch->changes.isOpen) {
    (void)v3FileWatchWait(&watch->changes, static_cast<u32>(left));
  } else {
    v3Sleep(static_cast<u32>(left < 1000 ? left : 1000));  // no change notices: look every second
  }
}

}  // namespace

void StopCoreWatch(CoreWatch* watch) {
  watch->stop = 1;
  v3FileWatchWake(&watch->changes);
}

void CoreOutputWatcher(void* raw) {
  auto* watch = static_cast<CoreWatch*>(raw);
  GuestMonitor guest;
  u64 nextCheck = v3MonotonicMs() + g_guestCheckMs;
  // Checks ride on the wake-ups the core causes anyway: one is made at any wake-up from half an interval
  // before it is due, and the watcher sleeps until half an interval after, waiting for such a wake-up.
  auto checkWhenDue = [&] {
    if (v3MonotonicMs() + g_guestCheckMs / 2 < nextCheck) return;
    guest.Check(v3MonotonicMs());
    nextCheck = v3MonotonicMs() + g_guestCheckMs;
  };
  RuntimeFile file{};
  bool open = false;
  while (watch->stop.load() == 0) {
    if (v3FileOpen(&file, watch->logPath, V3_FILE_READ, V3_LOCK_NONE) == 0) {
      open = true;
      (void)v3FileWatchFollow(&watch->changes, watch->logPath);  // its other files need not wake us
      break;
    }
    AwaitChange(watch, nextCheck + g_guestCheckMs / 2);
    checkWhenDue();
  }
  if (open) {
    LineReader reader(&file);
    std::string line;
    while (watch->stop.load() == 0) {
      if (reader.Next(&line, false)) {
        LogCoreLine(&line);
        if (ReportsProgress(line)) (void)CheckUnitProgress();
      } else {
        AwaitChange(watch, nextCheck + g_guestCheckMs / 2);
      }
      checkWhenDue();
    }
    while (reader.Next(&line, true)) LogCoreLine(&line);
    v3FileClose(&file);
  }
  g_corePauseReason = nullptr;  // the run is over, paused or not
  watch->done = 1;
}
