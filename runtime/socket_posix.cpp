// Sockets over POSIX: connect, bounded receive with poll, pieced send, and the serialised resolver.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "runtime/byte_order.h"
#include "runtime/process.h"
#include "runtime/socket.h"
#include "runtime/time.h"

namespace {

std::atomic<bool> g_initialised{false};
v3Mutex g_lookupLock = {};

long SystemSend(int fd, const void* data, u64 length) { return ::send(fd, data, length, MSG_NOSIGNAL); }
long (*g_send)(int, const void*, u64) = SystemSend;

void DestroyLookupLock() { v3MutexDestroy(&g_lookupLock); }

void CloseDescriptor(v3Socket* s) {
  ::close(static_cast<int>(s->descriptor));
  s->state = 0;
}

sockaddr_in Address(u32 address, u16 port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

// Milliseconds left of limitMs since start; 0 when used up; -1 when the clock cannot be read.
s64 MillisecondsLeft(v3Time start, u32 limitMs) {
  v3Time now{};
  if (v3ClockNow(&now) != 0) return -1;
  const s128 elapsed = v3TimeToFixed(v3TimeSubtract(now, start));
  const s128 limit = (static_cast<s128>(limitMs) << 64) / 1000;
  const s128 left = limit - elapsed;
  if (left <= 0) return 0;
  // round up, so a wait never ends before the limit
  return static_cast<s64>((left * 1000 + ((static_cast<s128>(1) << 64) - 1)) >> 64);
}

}  // namespace

void v3NetSetSendCall(long (*send)(int, const void*, u64)) { g_send = send != nullptr ? send : SystemSend; }

int v3NetInit() {
  if (g_initialised.exchange(true)) return 0;
  v3SignalIgnoreBrokenPipe();
  v3ProcessSetExitHook(DestroyLookupLock);
  return 0;
}

int v3NetConnect(v3Socket* s, u32 remoteAddress, u16 remotePort, u32 localAddress, u16 localPort, u32 type) {
  if (s == nullptr) return V3_NET_EARGUMENT;
  if (s->state != 0) return V3_NET_EINUSE;
  if (v3NetInit() != 0) return V3_NET_EINIT;
  if (type != V3_SOCKET_STREAM) return V3_NET_ETYPE;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return V3_NET_ESYSTEM;
  if (localAddress != 0 || localPort != 0) {
    const int yes = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0) {
      ::close(fd);
      return V3_NET_ESYSTEM;
    }
    const sockaddr_in local = Address(localAddress, localPort);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd);
      return V3_NET_EBIND;
    }
  }
  const sockaddr_in remote = Address(remoteAddress, remotePort);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return V3_NET_ECONNECT;
  }
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    ::close(fd);
    return V3_NET_ESYSTEM;
  }
  *s = v3Socket{fd, 1, type, remoteAddress, ntohl(local.sin_addr.s_addr), remotePort, ntohs(local.sin_port)};
  return 0;
}

int v3NetSend(v3Socket* s, u64* sent, const void* data, u64 length) {
  if (sent != nullptr) *sent = 0;
  if (s == nullptr || sent == nullptr || data == nullptr || length == 0) return V3_NET_EARGUMENT;
  if (s->state != 1) return V3_NET_ECLOSED;
  if (s->type != V3_SOCKET_STREAM) return V3_NET_ETYPE;
  const auto* bytes = static_cast<const u8*>(data);
  while (*sent < length) {
    const u64 piece = length - *sent < V3_NET_SEND_PIECE ? length - *sent : V3_NET_SEND_PIECE;
    const long n = g_send(static_cast<int>(s->descriptor), bytes + *sent, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CloseDescriptor(s);
      return V3_NET_ECLOSED;
    }
    *sent += static_cast<u64>(n);
  }
  return 0;
}

int v3NetRecv(void* buffer, u64* received, v3Socket* s, u64 length, u32 limitMs) {
  if (received != nullptr) *received = 0;
  if (buffer == nullptr || received == nullptr || s == nullptr || length == 0) return V3_NET_EARGUMENT;
  if (s->state != 1) return V3_NET_ECLOSED;
  if (s->type != V3_SOCKET_STREAM) return V3_NET_ETYPE;
  v3Time start{};
  if (v3ClockNow(&start) != 0) return V3_NET_ETIMEOUT;
  auto* bytes = static_cast<u8*>(buffer);
  while (*received < length) {
    // Data already waiting is taken at once; only an empty socket costs a wait.
    ssize_t n = ::recv(static_cast<int>(s->descriptor), bytes + *received, length - *received, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      const s64 left = MillisecondsLeft(start, limitMs);
      if (left < 0) return V3_NET_ETIMEOUT;
      pollfd waiter{static_cast<int>(s->descriptor), POLLIN, 0};
      const int ready = ::poll(&waiter, 1, left > 2147483647 ? 2147483647 : static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        CloseDescriptor(s);
        return V3_NET_ESYSTEM;
      }
      if (ready == 0) {
        if (MillisecondsLeft(start, limitMs) > 0) continue;  // poll woke early
        return V3_NET_ETIMEOUT;
      }
      continue;
    }
    if (n == 0) {
      CloseDescriptor(s);
      return V3_NET_ECLOSED;
    }
    if (n < 0) {
      CloseDescriptor(s);
      return V3_NET_ESYSTEM;
    }
    *received += static_cast<u64>(n);
  }
  return 0;
}

int v3NetClose(v3Socket* s) {
  if (s == nullptr) return V3_NET_EARGUMENT;
  if (v3NetInit() != 0) return V3_NET_EINIT;
  if (s->state == 0) return 0;
  s->state = 0;
  return ::close(static_cast<int>(s->descriptor)) == 0 ? 0 : V3_NET_ECLOSE;
}

u32 v3NetLookup(u32* addresses, u32 capacity, const char* host) {
  if (addresses == nullptr || capacity == 0 || host == nullptr) return 0;
  if (v3NetInit() != 0) return 0;
  (void)v3MutexLock(&g_lookupLock, V3_MUTEX_WAIT);
  u32 stored = 0;
  const hostent* entry = ::gethostbyname(host);
  if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == 4) {
    for (; stored < capacity && entry->h_addr_list[stored] != nullptr; ++stored) {
      v3LoadBE32(&addresses[stored], entry->h_addr_list[stored]);
    }
  }
  v3MutexUnlock(&g_lookupLock);
  return stored;
}
