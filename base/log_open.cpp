// The log file: rotation at start-up, then the fallbacks when it cannot be opened.
#include "base/log_open.h"

#include "base/log.h"
#include "base/log_sink.h"
#include "runtime/file.h"

namespace {

constexpr u32 kNewLog = V3_FILE_READ | V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE;
constexpr u32 kAppendLog = V3_FILE_READ | V3_FILE_WRITE | V3_FILE_APPEND | V3_FILE_CREATE;

bool Open(RuntimeFile* file, const char* name, u32 flags) {
  *file = RuntimeFile{};
  if (v3FileOpen(file, name, flags, V3_LOCK_NONE) != 0) return false;
  LogAttachFile(file);
  return true;
}

}  // namespace

void OpenLog() {
  RuntimeFile file{};
  FileInfo info{};
  bool opened;
  if (v3FileInfo(&info, kLogFileName) != 0 || info.size >= kLogRotationSize) {
    (void)v3FileDelete(kPreviousLogFileName);
    (void)v3FileRename(kLogFileName, kPreviousLogFileName);
    opened = Open(&file, kLogFileName, kNewLog);
  } else {
    opened = Open(&file, kLogFileName, kAppendLog);
  }
  if (!opened && v3FileDelete(kLogFileName) == 0 && Open(&file, kLogFileName, kNewLog)) {
    opened = true;
    LOG_AT(3, "\nQuorvane was originally unable to open %s, so it was deleted and a new copy started.\n", kLogFileName);
  }
  if (!opened && Open(&file, kFallbackLogFileName, kNewLog)) {
    LOG_AT(3,
           "\nThe file %s has been locked by the operating system and cannot be\n opened for writing (possibly because "
           "it is open in another application).\n",
           kLogFileName);
    LOG_AT(3, "Before you next run Quorvane, please ensure %s is not open anywhere,\n or simply delete it. For now, %s "
           "will be used.\n",
           kLogFileName, kFallbackLogFileName);
  }
  char stamp[64];
  FormatTimestamp(stamp, sizeof stamp, 1);
  LogWrite("\n\n--- Opening Log file %s \n\n", stamp);
}

void RotateLogIfFull() {
  FileInfo info{};
  if (v3FileInfo(&info, kLogFileName) == 0 && info.size >= kLogRotationSize) OpenLog();
}

void CloseLog() { LogAttachFile(nullptr); }
