// Facts about the machine that the servers are told.
#pragma once

#include "runtime/types.h"

// Total physical memory as the operating system reports it (unscaled); 0 when it cannot be had.
[[nodiscard]] u64 v3TotalMemory();
