// Facts about the machine that the servers are told.
#pragma once

#include "runtime/types.h"

// Total physical memory as the operating system reports it (unscaled); 0 when it cannot be had.
[[nodiscard]] u64 v3TotalMemory();

// Whether the machine runs on battery: it has a battery (a supply of type "Battery" under root, normally
// /sys/class/power_supply) and no mains supply is online ("Mains", "USB" and the like with online 1); with
// no such supply listed at all, a battery whose status is "Discharging". A machine without a battery never
// is. 1 or 0.
[[nodiscard]] int v3PowerOnBattery(const char* root);
// The processors' time since boot from /proc/stat, in clock ticks of all processors together: busy (all but
// idle and I/O wait) and total. 0, or -1 when it cannot be read.
[[nodiscard]] int v3ProcessorTimes(u64* busy, u64* total);
// The processor time a process has used (user and system), in clock ticks; 0 when it cannot be read.
[[nodiscard]] u64 v3ProcessTicks(u64 processId);
