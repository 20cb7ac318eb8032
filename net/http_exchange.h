// The client's use of HTTP: one packet exchange by POST, fixed-size replies, payloads read from a kept
// connection, and file downloads by GET. Every failure is logged here and returned as -1.
#pragma once

#include <cstdint>

#include "runtime/http.h"
#include "runtime/types.h"

inline constexpr u32 kExchangeTimeLimitMs = 1800000;
// The limit every request, receive and send of an exchange takes: kExchangeTimeLimitMs, unless a test
// program shortens it before the client starts.
extern u32 g_exchangeLimitMs;
inline constexpr u64 kDownloadPiece = 10240;

struct ConnectionHandle {
  u32 kind;  // 0: an HTTP connection
  HTTPConnection* connection;
};

// POSTs request to http://host:port/ and reads a reply of exactly replyLength bytes. With keep, the open
// connection is handed over in handle for doReadBytes.
[[nodiscard]] int ServerExchange(const char* host, u32 port, const void* request, u64 requestLength, void* reply,
                                 u64 replyLength, u32 keep, ConnectionHandle* handle);
// Receives a fixed-size record, dropping a CR LF that precedes it.
[[nodiscard]] int CliHTTPRecv(void* buffer, u64* received, HTTPConnection* connection, u64 length, u32 limitMs);
// Reads count payload bytes from a kept connection; without keep, closes and frees it. 0 or -1.
[[nodiscard]] int doReadBytes(ConnectionHandle* handle, void* buffer, u64 count, u32 keep);
// Downloads http://host<path> into fileName, every byte of the body, at most maxBytes of it; 0 or -1.
[[nodiscard]] int HTTPDownloadFile(const char* host, const char* path, const char* fileName,
                                   u64 maxBytes = UINT64_MAX);
