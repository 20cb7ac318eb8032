// Running a core on a unit through the system shell, watched by a thread that copies its log.
#pragma once

#include "client/core_status.h"
#include "runtime/types.h"

inline constexpr u64 kCommandLineCapacity = 376;

// The core's command line: "./core -dir dir -suffix NN" and the optional flags in their fixed order, then
// " -lifeline <pid>\n" last; never more than 374 characters (excess cut). Consumes the restart flag.
void BuildCoreCommandLine(char out[kCommandLineCapacity], const char* core, const char* workDirectory,
                          const char* slotSuffix, u32 cleanUp);
// Runs the core on slot NN of the work directory (clean-up mode when cleanUp is 1); returns the status.
[[nodiscard]] u32 LaunchCore(const char* core, const char* workDirectory, const char* slotSuffix, u32 cleanUp);
// Removes the unit's files through its core's clean-up mode and empties the slot (in every case).
// 0 when the core removed the files and the slot was saved empty, -1 otherwise.
[[nodiscard]] int CleanUpUnit(u32 slot);
