// Storage of the deadline-interrupt flag.
#include "client/core_interrupt.h"

std::atomic<u32> g_deadlineInterrupt{0};
