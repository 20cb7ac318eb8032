// The current unit's progress: the deadline interrupt and "unitinfo.txt".
#pragma once

#include "runtime/time.h"
#include "runtime/types.h"

inline constexpr u64 kUnitInfoSize = 512;

// Interrupts the running core when the current unit's deadline has passed (-1), or rewrites
// "unitinfo.txt" from the core's information file (0); -1 when there is nothing to do.
[[nodiscard]] int CheckUnitProgress();
// Writes "unitinfo.txt" from a 512-byte information record; deadline may be null.
void WriteUnitInfo(const u8 info[kUnitInfoSize], v3Time received, const v3Time* deadline);
