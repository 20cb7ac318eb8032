// Where the log's file copy goes. Until the log file is opened there is none and output is console-only.
#pragma once

#include "runtime/types.h"

// Appends to the log file, if one is open, and flushes it. REQUIRES: the log lock is held.
void LogSinkWrite(const char* text, u64 length);
