// The processor speed figure reported to the servers: 64x64 double matrix products per second.
#pragma once

#include "runtime/types.h"

// Takes at least a second of computation. Call from one thread at a time.
[[nodiscard]] u64 v3CpuBenchmark();
