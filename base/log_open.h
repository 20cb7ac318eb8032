// Opening the log file at start-up, with its one-generation rotation and fallbacks.
#pragma once

#include "runtime/types.h"

inline constexpr const char* kLogFileName = "QVNlog.txt";
inline constexpr const char* kPreviousLogFileName = "QVNlog-Prev.txt";
inline constexpr const char* kFallbackLogFileName = "QVNlog2.txt";
// A log of this size or more is moved aside at the next start.
inline constexpr u64 kLogRotationSize = 50000;

// Never fails: at worst the client goes on with console output only.
void OpenLog();
// Closes the log file; output goes to the console only afterwards.
void CloseLog();
