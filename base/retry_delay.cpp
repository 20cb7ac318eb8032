// Exponential backoff with jitter, one state for the whole process.
#include "base/retry_delay.h"

#include <cstdlib>
#include <ctime>

#include "runtime/process.h"

namespace {

struct RetryState {
  u32 currentMs;
  u32 maximumMs;
  u32 jitterMs;
  u32 attempts;
};
RetryState g_retry = {0, 0, 0, 0};
u32 g_divisor = 1;

}  // namespace

void RetryDelaySetDivisor(u32 divisor) { g_divisor = divisor > 0 ? divisor : 1; }

u32 RetryDelayAdvance(u32 random, u32* waitMs) {
  *waitMs = g_retry.currentMs + static_cast<u32>(static_cast<double>(g_retry.jitterMs) * random / 256.0);
  if (g_retry.currentMs < g_retry.maximumMs) {
    const u64 doubled = u64{g_retry.currentMs} * 2;
    g_retry.currentMs = doubled > g_retry.maximumMs ? g_retry.maximumMs : static_cast<u32>(doubled);
  }
  return ++g_retry.attempts;
}

u32 RetryDelay(u32 minimumMs, u32 maximumMs, u32 jitterMs) {
  if (minimumMs != 0 && maximumMs != 0 && minimumMs <= maximumMs) {
    g_retry = RetryState{minimumMs, maximumMs, jitterMs, 0};
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return 0;
  }
  u32 waitMs = 0;
  const u32 attempts = RetryDelayAdvance(static_cast<u32>(std::rand() % 256), &waitMs);
  v3Sleep(waitMs / g_divisor);
  return attempts;
}
