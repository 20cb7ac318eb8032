// Failed-exchange counters.
#include "net/exchange_failures.h"

#include <atomic>

namespace {

std::atomic<u64> g_failures[kExchangeKinds];
constexpr const char* kNames[kExchangeKinds] = {"user_id", "assignment", "work", "results", "core_download"};

}  // namespace

void CountExchangeFailure(Exchange kind) { g_failures[static_cast<u32>(kind)].fetch_add(1); }

u64 ExchangeFailures(Exchange kind) { return g_failures[static_cast<u32>(kind)].load(); }

const char* ExchangeName(Exchange kind) { return kNames[static_cast<u32>(kind)]; }
