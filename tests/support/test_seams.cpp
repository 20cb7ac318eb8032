// Linked into qvn3_testing only: before main runs, shortens the client's waits from the environment so
// that black-box tests of failures and retries finish in seconds. The released qvn3 has none of this.
//   QVN_TEST_EXCHANGE_LIMIT_MS  the time limit of every request, receive and send (default 30 minutes)
//   QVN_TEST_RETRY_DIVISOR      divides every wait of the retry timer (default 1)
//   QVN_TEST_PASS_PAUSE_MS      the work cycle's pause between passes (default 5000)
//   QVN_TEST_AUTOSEND_MS        the send thread's pause between passes (default six hours)
//   QVN_TEST_LANDLOCK_ABI       the Landlock version the core sandbox believes the kernel has (0: none)
//   QVN_TEST_POWER_ROOT         where the power supplies are listed (default /sys/class/power_supply)
//   QVN_TEST_GUEST_CHECK_MS     how often the pause conditions are checked while a core runs (default 10 s)
//   QVN_TEST_LOCAL_HOUR         the local hour the allowed hours are compared with (default the clock's)
//   QVN_TEST_BENCHMARK          the processor benchmark's result, given at once (the measurement takes
//                               seconds, far more under the sanitizers)
#include <cstdlib>

#include "base/retry_delay.h"
#include "client/guest_policy.h"
#include "client/result_send.h"
#include "client/startup.h"
#include "client/work_cycle.h"
#include "net/http_exchange.h"
#include "runtime/sandbox.h"

namespace {

int g_landlockAbi = 0;
int g_fixedHour = 0;
u64 g_benchmarkResult = 0;

unsigned long FromEnvironment(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : fallback;
}

const bool g_applied = [] {
  g_exchangeLimitMs = static_cast<u32>(FromEnvironment("QVN_TEST_EXCHANGE_LIMIT_MS", kExchangeTimeLimitMs));
  RetryDelaySetDivisor(static_cast<u32>(FromEnvironment("QVN_TEST_RETRY_DIVISOR", 1)));
  g_passPauseMs = static_cast<u32>(FromEnvironment("QVN_TEST_PASS_PAUSE_MS", g_passPauseMs));
  g_autosendPeriodMs = static_cast<u32>(FromEnvironment("QVN_TEST_AUTOSEND_MS", g_autosendPeriodMs));
  if (const char* root = std::getenv("QVN_TEST_POWER_ROOT")) g_powerSupplyRoot = root;
  g_guestCheckMs = static_cast<u32>(FromEnvironment("QVN_TEST_GUEST_CHECK_MS", g_guestCheckMs));
  if (std::getenv("QVN_TEST_LOCAL_HOUR") != nullptr) {
    g_fixedHour = static_cast<int>(FromEnvironment("QVN_TEST_LOCAL_HOUR", 0));
    g_localHour = [] { return g_fixedHour; };
  }
  if (FromEnvironment("QVN_TEST_BENCHMARK", 0) != 0) {
    g_benchmarkResult = FromEnvironment("QVN_TEST_BENCHMARK", 0);
    g_processorBenchmark = [] { return g_benchmarkResult; };
  }
  if (std::getenv("QVN_TEST_LANDLOCK_ABI") != nullptr) {
    g_landlockAbi = static_cast<int>(FromEnvironment("QVN_TEST_LANDLOCK_ABI", 0));
    v3SandboxSetAbiProbe([] { return g_landlockAbi; });
  }
  return true;
}();

}  // namespace
