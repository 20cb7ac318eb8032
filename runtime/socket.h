// IPv4 TCP connections and host name lookup. Addresses are u32 in host order (first octet most
// significant), ports u16. Every send and every receive has a time limit that bounds the whole call,
// measured on the monotonic clock. A record belongs to one thread; lookups may run in several threads at
// once. Nothing here logs.
#pragma once

#include "runtime/types.h"

inline constexpr u32 V3_SOCKET_STREAM = 85;

inline constexpr int V3_NET_ECONNECT = -1;
inline constexpr int V3_NET_EBIND = -2;
inline constexpr int V3_NET_EINUSE = -6;
inline constexpr int V3_NET_ECLOSED = -7;   // not connected, peer closed, or send failed
inline constexpr int V3_NET_ETIMEOUT = -8;  // time limit ran out (the socket stays open), or no clock
inline constexpr int V3_NET_ETYPE = -9;
inline constexpr int V3_NET_EARGUMENT = -10;
inline constexpr int V3_NET_ECLOSE = -11;
inline constexpr int V3_NET_ESYSTEM = -12;
inline constexpr int V3_NET_EINIT = -13;

inline constexpr u64 V3_NET_SEND_PIECE = 49152;

struct v3Socket {  // zero it before first use
  s64 descriptor;
  u32 state;  // 0 closed, 1 connected
  u32 type;
  u32 remoteAddress;
  u32 localAddress;
  u16 remotePort;
  u16 localPort;
};

inline constexpr u32 V3_NET_SEND_LIMIT_MS = 1800000;

// Once per process: SIGPIPE ignored. 0.
int v3NetInit();
[[nodiscard]] int v3NetConnect(v3Socket* socket, u32 remoteAddress, u16 remotePort, u32 localAddress, u16 localPort,
                               u32 type);
// Sends all bytes in pieces of at most 49,152 within limitMs for the whole call; *sent counts what went.
// A failure or a time-out (-8) closes the socket.
[[nodiscard]] int v3NetSend(v3Socket* socket, u64* sent, const void* data, u64 length,
                            u32 limitMs = V3_NET_SEND_LIMIT_MS);
// Receives exactly length bytes unless the limit (whole call) runs out (-8, socket open) or the connection
// fails (socket closed); *received always counts what was stored.
[[nodiscard]] int v3NetRecv(void* buffer, u64* received, v3Socket* socket, u64 length, u32 limitMs);
int v3NetClose(v3Socket* socket);
// Resolves a host name or dotted address with the system's re-entrant resolver; stores at most capacity
// addresses and returns how many.
[[nodiscard]] u32 v3NetLookup(u32* addresses, u32 capacity, const char* host);
// True for text that is an IPv4 address in any of the forms a resolver takes as one ("169.254.169.254",
// "0xa9fea9fe"), with the address stored; no lookup is made.
[[nodiscard]] bool v3NetParseAddress(u32* address, const char* text);
// True for an address no server can have: "this network" 0.0.0.0/8, link-local 169.254.0.0/16 (where
// cloud machines keep their metadata service), multicast 224.0.0.0/4 and the broadcast 255.255.255.255.
// Loopback and private ranges are allowed: a local project runs there.
[[nodiscard]] bool v3NetAddressForbidden(u32 address);

// Test seam: the system send, so a test can watch the pieces handed to it. Null restores the system's.
void v3NetSetSendCall(long (*send)(int descriptor, const void* data, u64 length));
// Test seam: the resolver call behind v3NetLookup (getaddrinfo's contract, without a service), so a test's
// answers cannot depend on the machine's network. Null restores the system's.
struct addrinfo;
void v3NetSetResolver(int (*resolve)(const char* host, const addrinfo* hints, addrinfo** found));
