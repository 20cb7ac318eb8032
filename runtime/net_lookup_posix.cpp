// Name lookup over gethostbyname, under the lookup lock.
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

#include "runtime/net_lookup.h"
#include "runtime/process.h"

namespace {

v3Mutex g_lookupLock = {};

void DestroyLookupLock() { v3MutexDestroy(&g_lookupLock); }

}  // namespace

int v3NetLookup(const char* host, u32* addresses, u32 max) {
  if (host == nullptr || (addresses == nullptr && max > 0)) return -1;
  if (g_lookupLock.marker != 42) v3ProcessSetExitHook(DestroyLookupLock);
  (void)v3MutexLock(&g_lookupLock, V3_MUTEX_WAIT);
  int count = 0;
  const struct hostent* entry = gethostbyname(host);
  if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == 4) {
    for (; entry->h_addr_list[count] != nullptr; ++count) {
      if (static_cast<u32>(count) >= max) continue;
      const auto* b = reinterpret_cast<const unsigned char*>(entry->h_addr_list[count]);
      addresses[count] = u32{b[0]} << 24 | u32{b[1]} << 16 | u32{b[2]} << 8 | b[3];
    }
  }
  v3MutexUnlock(&g_lookupLock);
  return count;
}
