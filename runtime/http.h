// A small HTTP/1.1 client: one connection record, open, GET, POST, receive, close; responses framed by
// Content-Length, chunked transfer or the server's close, and replies with no status line at all. Requests
// go directly or through a proxy with Basic credentials. A record belongs to one thread. Nothing here logs.
#pragma once

#include "runtime/byte_buffer.h"
#include "runtime/socket.h"
#include "runtime/types.h"

inline constexpr int V3_HTTP_EURL = -1;      // URL not usable, or the host does not resolve
inline constexpr int V3_HTTP_EIO = -2;       // connect, send or response header failed (closed)
inline constexpr int V3_HTTP_ENOMEM = -3;
inline constexpr int V3_HTTP_ENULL = -4;
inline constexpr int V3_HTTP_ESTATE = -6;
inline constexpr int V3_HTTP_EADDRESS = -7;  // the server's address is one no server can have

inline constexpr u64 V3_HTTP_HOST_MAX = 287;
// A response header longer than this is refused as a failed header read: a server cannot exhaust memory.
inline constexpr u64 V3_HTTP_HEADER_MAX = 65536;

enum HttpFraming : u32 { HTTP_UNFRAMED = 0, HTTP_LENGTH = 1, HTTP_CHUNKED = 2, HTTP_UNTIL_CLOSE = 3 };

struct HTTPConnection {  // zero it before v3HTTPOpen
  v3Socket socket;
  char host[V3_HTTP_HOST_MAX + 1];
  u32 state;  // 0 not opened, 1 opened, 2 connected and idle, 3 header read, body pending
  u32 framing;
  u32 persistent;
  u32 status;
  u32 remaining;
  u32 serverAddress;
  u16 serverPort;
  u32 proxyAddress;
  u16 proxyPort;
  char* proxyAuthorization;
  char* authorization;
  ByteBuffer header;
  u32 headerReady;
};

// Takes the URL's host and port and, without a proxy, looks the host up. Proxy credentials are kept only
// when a proxy is given (address and port non-zero): a direct request never carries them. -7 for a host at
// an address no server can have (v3NetAddressForbidden): resolved directly, or written as an address
// when a proxy would reach it.
[[nodiscard]] int v3HTTPOpen(HTTPConnection* connection, const char* url, u32 proxyAddress, u16 proxyPort,
                             const char* proxyUser, const char* proxyPassword, const char* user,
                             const char* password);
// A request: sending it and reading its response header (past any interim 1xx responses) share limitMs.
[[nodiscard]] int v3HTTPGet(HTTPConnection* connection, u32* status, const char* path, u32 limitMs);
[[nodiscard]] int v3HTTPPost(HTTPConnection* connection, u32* status, const char* path, const void* body,
                             u64 bodyLength, u32 limitMs);
// Up to count body bytes within limitMs for the whole call; *received tells how many. -6 with no response
// pending, else 0 (compare counts). A call that times out with nothing received abandons the response and
// closes the connection, which the next request opens again.
[[nodiscard]] int v3HTTPRecv(void* buffer, u64* received, HTTPConnection* connection, u64 count, u32 limitMs);
int v3HTTPClose(HTTPConnection* connection);

// Where the response parsers get their bytes: the connection's socket, or memory in the fuzzer.
struct HttpByteSource {
  // Reads up to count bytes; 0 with *got set, negative on failure (then *got may be short).
  int (*read)(void* context, u8* out, u64 count, u64* got, u32 limitMs);
  void* context;
};

struct HttpResponseHead {
  u32 status;
  u32 framing;
  u32 persistent;
  u32 remaining;
  bool statusKnown;  // false when the status digits were not a number
};

// Reads and parses a response header into head, keeping its raw bytes in header (a set-up FIFO buffer),
// the whole header within limitMs; interim (1xx) responses before it are read past (at most 8):
// 0, or -2 when nothing came, the header broke off, grew past its limit, or announced a length that does
// not fit. An unframed reply (no status line) leaves its first bytes in header for the body.
[[nodiscard]] int v3HttpReadHead(HttpByteSource* source, ByteBuffer* header, HttpResponseHead* head, u32 limitMs);
// Reads one chunk-size line within limitMs (skipping the one empty line that ends a chunk's data; a second
// is malformed): 0 with *size set, or -1. A size of 0 also consumes the final line end.
[[nodiscard]] int v3HttpReadChunkSize(HttpByteSource* source, u32* size, u32 limitMs);
