// The one process-wide retry timer shared by the core download, the fetch loop and the user-ID request:
// a reset sets the backoff, each wait sleeps the current delay plus random jitter and then doubles it.
// Not thread-safe: its users never run at the same time.
#pragma once

#include "runtime/types.h"

// Reset form when min and max are non-zero and min <= max (returns 0); otherwise a wait (returns the
// attempt count after it). All callers reset with (5000, 2880000, 15000) and wait with (0, 0, 0).
u32 RetryDelay(u32 minimumMs, u32 maximumMs, u32 jitterMs);

// Test seam: every wait is divided by divisor (1 restores the real waits). Set before the client starts.
void RetryDelaySetDivisor(u32 divisor);

// The wait without its sleep: the milliseconds the next wait would sleep for the random number r
// (0..255), advancing the state as the wait does. Returns the attempt count.
u32 RetryDelayAdvance(u32 random, u32* waitMs);
