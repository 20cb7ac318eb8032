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

long SystemSend(int fd, const void* data, u64 length) {
  return ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
}
long (*g_send)(int, const void*, u64) = SystemSend;

int SystemResolve(const char* host, const addrinfo* hints, addrinfo** found) {
  return ::getaddrinfo(host, nullptr, hints, found);
}
int (*g_resolve)(const char*, const addrinfo*, addrinfo**) = SystemResolve;

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

// Waits until the socket is ready for events or the limit that began at startMs runs out: 1 ready, 0 time
// out, -1 failure. The monotonic clock measures the limit, so setting the calendar clock back cannot stretch it.
int WaitReady(const v3Socket* s, short events, u64 startMs, u32 limitMs) {
  for (;;) {
    const u32 left = v3MillisecondsLeft(startMs, limitMs);
    if (left == 0) return 0;
    pollfd waiter{static_cast<int>(s->descriptor), events, 0};
    const int ready = ::poll(&waiter, 1, left > 2147483647u ? 2147483647 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready > 0) return 1;
  }
}

}  // namespace

void v3NetSetSendCall(long (*send)(int, const void*, u64)) { g_send = send != nullptr ? send : SystemSend; }

void v3NetSetResolver(int (*resolve)(const char*, const addrinfo*, addrinfo**)) {
  g_resolve = resolve != nullptr ? resolve : SystemResolve;
}

int v3NetInit() {
  if (g_initialised.exchange(true)) return 0;
  v3SignalIgnoreBrokenPipe();
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

int v3NetSend(v3Socket* s, u64* sent, const void* data, u64 length, u32 limitMs) {
  if (sent != nullptr) *sent = 0;
  if (s == nullptr || sent == nullptr || data == nullptr || length == 0) return V3_NET_EARGUMENT;
  if (s->state != 1) return V3_NET_ECLOSED;
  if (s->type != V3_SOCKET_STREAM) return V3_NET_ETYPE;
  const u64 start = v3MonotonicMs();
  const auto* bytes = static_cast<const u8*>(data);
  while (*sent < length) {
    const u64 piece = length - *sent < V3_NET_SEND_PIECE ? length - *sent : V3_NET_SEND_PIECE;
    const long n = g_send(static_cast<int>(s->descriptor), bytes + *sent, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A peer that accepts and never reads: the call as a whole is bounded, as a receive is.
      const int ready = WaitReady(s, POLLOUT, start, limitMs);
      if (ready > 0) continue;
      CloseDescriptor(s);
      return ready == 0 ? V3_NET_ETIMEOUT : V3_NET_ECLOSED;
    }
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
  const u64 start = v3MonotonicMs();
  auto* bytes = static_cast<u8*>(buffer);
  while (*received < length) {
    // Data already waiting is taken at once; only an empty socket costs a wait.
    ssize_t n = ::recv(static_cast<int>(s->descriptor), bytes + *received, length - *received, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int ready = WaitReady(s, POLLIN, start, limitMs);
      if (ready < 0) {
        CloseDescriptor(s);
        return V3_NET_ESYSTEM;
      }
      if (ready == 0) return V3_NET_ETIMEOUT;
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
  // The system's re-entrant resolver: the work cycle and the send thread may look up names at once.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (g_resolve(host, &hints, &found) != 0) return 0;
  u32 stored = 0;
  for (const addrinfo* a = found; a != nullptr && stored < capacity; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    addresses[stored++] = ntohl(address->sin_addr.s_addr);
  }
  ::freeaddrinfo(found);
  return stored;
}

bool v3NetParseAddress(u32* address, const char* text) {
  in_addr parsed{};
  if (address == nullptr || text == nullptr || ::inet_aton(text, &parsed) == 0) return false;
  *address = ntohl(parsed.s_addr);
  return true;
}

bool v3NetAddressForbidden(u32 address) {
  const u32 first = address >> 24;
  return first == 0 || (address >> 16) == 0xA9FE || (first >= 224 && first <= 239) || address == 0xFFFFFFFFu;
}
