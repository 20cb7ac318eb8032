// Counts of the exchanges with the servers that failed, by kind, since the client started; read by the
// metrics file. Thread-safe.
#pragma once

#include "runtime/types.h"

enum class Exchange : u32 { UserId, Assignment, Work, Results, CoreDownload };
inline constexpr u32 kExchangeKinds = 5;

void CountExchangeFailure(Exchange kind);
[[nodiscard]] u64 ExchangeFailures(Exchange kind);
// The kind's name in the metrics file: "user_id", "assignment", "work", "results", "core_download".
[[nodiscard]] const char* ExchangeName(Exchange kind);
