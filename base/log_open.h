// Opening the log file at start-up, with its one-generation rotation and fallbacks.
#pragma once

#include "runtime/types.h"

inline constexpr const char* kLogFileName = "QVNlog.txt";
inline constexpr const char* kPreviousLogFileName = "QVNlog-Prev.txt";
inline constexpr const char* kFallbackLogFileName = "QVNlog2.txt";
// A log of this size or more is moved aside at the next start, and at the start of the next unit.
inline constexpr u64 kLogRotationSize = 50000;

// Never fails: at worst the client goes on with console output only.
void OpenLog();
// While running: when QVNlog.txt has reached its limit, opens it anew as at start-up (the old one becomes
// QVNlog-Prev.txt, replacing the previous generation), so a client that runs for months keeps at most two
// bounded files. Messages logged meanwhile still reach one of them.
void RotateLogIfFull();
// Closes the log file; output goes to the console only afterwards.
void CloseLog();
