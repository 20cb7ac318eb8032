// Storage of the core-run flags.
#include "client/core_flags.h"

std::atomic<u32> g_coreRunning{0};
std::atomic<u32> g_restartFlag{0};
std::atomic<u32> g_deadlineInterrupt{0};
std::atomic<u64> g_coreProcess{0};
std::atomic<const char*> g_corePauseReason{nullptr};
