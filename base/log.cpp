// Log output: one lock, a line-start flag, the console mirror and (once opened) the log file.
#include "base/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/log_sink.h"
#include "runtime/console.h"
#include "runtime/file.h"
#include "runtime/process.h"
#include "runtime/time.h"

namespace {

// Trivially destructible on purpose: the termination handler may log while exit is under way.
struct LogState {
  v3Mutex lock;
  u32 consoleEcho;
  u32 lineStart;
  u32 sealed;        // the last line has been written: the process is ending
  RuntimeFile file;  // open when the log file exists
};
LogState g_log = {{}, 0, 1, 0, {}};

constexpr u64 kMessageCapacity = 256;

// Writes text to the console (when echoed) and the log file. REQUIRES: the log lock is held.
void WriteLocked(const char* text, u64 length) {
  if (g_log.sealed) return;
  if (g_log.consoleEcho) {
    (void)v3ConsoleWrite(text, length);
    v3ConsoleFlush();
  }
  if (g_log.file.isOpen) {
    u64 written = 0;
    (void)v3FileWrite(&g_log.file, &written, text, length);  // unbuffered: on disk as soon as it returns
  }
}

}  // namespace

void LogAttachFile(const RuntimeFile* file) {
  (void)v3MutexLock(&g_log.lock, V3_MUTEX_WAIT);
  if (g_log.file.isOpen) v3FileClose(&g_log.file);
  g_log.file = file != nullptr ? *file : RuntimeFile{};
  v3MutexUnlock(&g_log.lock);
}

void LogWriteLast(const char* text) {
  (void)v3MutexLock(&g_log.lock, V3_MUTEX_WAIT);
  WriteLocked(text, std::strlen(text));
  g_log.sealed = 1;
  v3MutexUnlock(&g_log.lock);
}

void LogUnseal() {
  (void)v3MutexLock(&g_log.lock, V3_MUTEX_WAIT);
  g_log.sealed = 0;
  v3MutexUnlock(&g_log.lock);
}

void LogSetConsoleEcho(u32 on) { g_log.consoleEcho = on; }

void LogResetLineStart() {
  (void)v3MutexLock(&g_log.lock, V3_MUTEX_WAIT);
  g_log.lineStart = 1;
  v3MutexUnlock(&g_log.lock);
}

void FormatTimestamp(char* out, u64 capacity, int withDate) {
  v3Time now{};
  v3Date date{};
  if (v3ClockNow(&now) != 0 || v3TimeToDate(&date, now) != 0) date = v3Date{};
  if (withDate) {
    std::snprintf(out, capacity, "[%s %u %02u:%02u:%02u]", MonthNames[date.month], date.day + 1, date.hour,
                  date.minute, date.second);
  } else {
    std::snprintf(out, capacity, "[%02u:%02u:%02u]", date.hour, date.minute, date.second);
  }
}

void LogPrint(const char* format, ...) {
  char message[kMessageCapacity];
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (formatted < 0) message[0] = '\0';
  const u64 length = std::strlen(message);

  (void)v3MutexLock(&g_log.lock, V3_MUTEX_WAIT);
  if (g_log.lineStart) {
    char stamp[32];
    FormatTimestamp(stamp, sizeof stamp, 0);
    char line[sizeof stamp + 1 + kMessageCapacity];
    const int stampLength = std::snprintf(line, sizeof line, "%s ", stamp);
    std::memcpy(line + stampLength, message, length);
    WriteLocked(line, static_cast<u64>(stampLength) + length);
  } else {
    WriteLocked(message, length);
  }
  g_log.lineStart = length > 0 && message[length - 1] == '\n';
  v3MutexUnlock(&g_log.lock);
}

void LogWrite(const char* format, ...) {
  char small[1024];
  char* text = small;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed >= static_cast<int>(sizeof small)) {
    text = new (std::nothrow) char[static_cast<size_t>(needed) + 1];
    if (text != nullptr) std::vsnprintf(text, static_cast<size_t>(needed) + 1, format, again);
  }
  va_end(again);
  if (needed < 0 || text == nullptr) return;

  (void)v3MutexLock(&g_log.lock, V3_MUTEX_WAIT);
  WriteLocked(text, static_cast<u64>(needed));
  v3MutexUnlock(&g_log.lock);
  if (text != small) delete[] text;
}
