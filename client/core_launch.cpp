// Core launch. Running cores comes with the core supervision work; until then no core can be started.
#include "client/core_launch.h"

u32 LaunchCore(const char*, const char*, const char*, u32) { return START_FAILED; }
