// Machine facts from Linux sysinfo.
#include <sys/sysinfo.h>

#include "runtime/system_info.h"

u64 v3TotalMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  return static_cast<u64>(info.totalram);
}
