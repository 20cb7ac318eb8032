// What a core run ended with: the core's exit code, or a value the client makes up itself.
#pragma once

#include "runtime/types.h"

enum CoreStatus : u32 {
  SETTINGS_CHANGED = 98,
  START_FAILED = 99,
  RESULT_READY = 100,
  SPECIAL_EXIT = 101,
  STOP_REQUESTED = 102,
  CORE_TOO_OLD = 110,
  UNKNOWN_WORK_FORMAT = 111,
  WORK_NOT_VALID = 112,
  WORK_FILES_CORRUPT = 113,
  UNIT_JUDGED_BAD = 114,
  ARGS_NOT_RECOGNISED = 115,
  WORK_FILES_MISSING = 116,
  FILE_READ_ERROR = 117,
  CORE_MISSING = 120,
};
