// Packet exchanges and downloads over the runtime's HTTP client.
#include "net/http_exchange.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "base/log.h"
#include "runtime/file.h"
#include "state/client_config.h"

u32 g_exchangeLimitMs = kExchangeTimeLimitMs;

namespace {

// Opens with the client's proxy settings; credentials only when both are non-empty.
int Open(HTTPConnection* c, const char* url) {
  const ClientSettings& s = g_clientSettings;
  const bool credentials = s.proxyUser[0] != '\0' && s.proxyPassword[0] != '\0';
  const int rc = v3HTTPOpen(c, url, s.proxyAddress, s.proxyPort, credentials ? s.proxyUser : nullptr,
                            credentials ? s.proxyPassword : nullptr, nullptr, nullptr);
  // Server records name these hosts: one that points where no project server can be is refused.
  if (rc == V3_HTTP_EADDRESS) LOG_AT(3, "- Refusing server %s: no project server has that address\n", c->host);
  return rc;
}

}  // namespace

int CliHTTPRecv(void* buffer, u64* received, HTTPConnection* c, u64 length, u32 limitMs) {
  auto* out = static_cast<u8*>(buffer);
  u64 got = 0;
  *received = 0;
  int rc = v3HTTPRecv(out, &got, c, 2, limitMs);
  if (rc != 0) return -1;
  u16 first;
  std::memcpy(&first, out, 2);
  LOG_AT(9, "Initial: %04X ", first);
  if (got == 2 && out[0] == '\r' && out[1] == '\n') {
    LOG_AT(9, "CliHTTPRecv: Got seq (%04X), ignoring\n", first);
    rc = v3HTTPRecv(out, received, c, length, limitMs);
  } else {
    u64 rest = 0;
    rc = got == 2 && length > 2 ? v3HTTPRecv(out + 2, &rest, c, length - 2, limitMs) : 0;
    *received = got + rest;
  }
  return rc;
}

int ServerExchange(const char* host, u32 port, const void* request, u64 requestLength, void* reply, u64 replyLength,
                   u32 keep, ConnectionHandle* handle) {
  char url[V3_HTTP_HOST_MAX + 24];
  if (std::snprintf(url, sizeof url, "http://%s:%u/", host, port) >= static_cast<int>(sizeof url)) {
    LOG_AT(3, "- Server name too long for a request: %.64s...\n", host);
    return -1;
  }
  LOG_AT(5, "Connecting to %s\n", url);
  g_clientSettings.connectionOpen = true;
  HTTPConnection c{};
  if (Open(&c, url) != 0) {
    LOG_AT(5, "- Could not v3HTTPOpen\n");
    v3HTTPClose(&c);
    return -1;
  }
  u32 status = 0;
  // Interim 1xx responses are read past by the transport; only a real 200 carries the reply record.
  if (v3HTTPPost(&c, &status, "/", request, requestLength, g_exchangeLimitMs) != 0 || status != 200) {
    LOG_AT(3, "- Couldn't send HTTP request to server\n");
    v3HTTPClose(&c);
    return -1;
  }
  u64 received = 0;
  if (CliHTTPRecv(reply, &received, &c, replyLength, g_exchangeLimitMs) != 0 || received < replyLength) {
    v3HTTPClose(&c);
    return -1;
  }
  if (!keep || handle == nullptr) {
    v3HTTPClose(&c);
    return 0;
  }
  auto* kept = new (std::nothrow) HTTPConnection(c);
  if (kept == nullptr) {
    v3HTTPClose(&c);
    return -1;
  }
  *handle = ConnectionHandle{0, kept};
  return 0;
}

int doReadBytes(ConnectionHandle* handle, void* buffer, u64 count, u32 keep) {
  if (handle == nullptr) {
    LOG_AT(3, "Empty connection\n");
    return -1;
  }
  if (handle->kind > 1) {
    LOG_AT(3, "Bad connection type received by doReadBytes\n");
    return -1;
  }
  if (handle->connection == nullptr) {
    LOG_AT(3, "Connection not vaild for doReadBytes\n");
    return -1;
  }
  if (handle->kind != 0) return -1;
  u64 received = 0;
  const int rc = v3HTTPRecv(buffer, &received, handle->connection, count, g_exchangeLimitMs);
  const int result = rc == 0 && received == count ? 0 : -1;
  if (!keep) {
    v3HTTPClose(handle->connection);
    delete handle->connection;
    handle->connection = nullptr;
  }
  return result;
}

int HTTPDownloadFile(const char* host, const char* path, const char* fileName, u64 maxBytes) {
  RuntimeFile file{};
  if (v3FileOpen(&file, fileName, V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE, V3_LOCK_NONE) != 0) {
    LOG_AT(3, "- Could not open %s for writing", fileName);
    return -1;
  }
  g_clientSettings.connectionOpen = true;
  // A host the URL cannot hold whole is refused, never shortened into another host.
  char url[V3_HTTP_HOST_MAX + 16];
  const int length = std::snprintf(url, sizeof url, "http://%s/", host);
  HTTPConnection c{};
  if (length < 0 || static_cast<u64>(length) >= sizeof url || Open(&c, url) != 0) {
    LOG_AT(3, "Could not download '%s'\n", host);
    v3HTTPClose(&c);
    v3FileClose(&file);
    return -1;
  }
  u32 status = 0;
  if (v3HTTPGet(&c, &status, path, g_exchangeLimitMs) != 0 || status != 200) {
    if (status != 200) LOG_AT(3, "- Error: HTTP GET returned error code %d\n", static_cast<int>(status));
    v3HTTPClose(&c);
    v3FileClose(&file);
    return -1;
  }
  static thread_local u8 piece[kDownloadPiece];
  u64 total = 0;
  int result = 0;
  for (bool first = true;; first = false) {
    u64 got = 0;
    if (v3HTTPRecv(piece, &got, &c, kDownloadPiece, g_exchangeLimitMs) != 0) {
      LOG_AT(3, "Network Receive Timeout\n");
      result = -1;
      break;
    }
    // A CR LF may precede the body, as before fixed-size replies; inside the body every byte counts.
    u64 skip = first && got >= 2 && piece[0] == '\r' && piece[1] == '\n' ? 2 : 0;
    u64 written = 0;
    if (got > skip && (v3FileWrite(&file, &written, piece + skip, got - skip) != 0 || written != got - skip)) {
      result = -1;
      break;
    }
    total += static_cast<u32>(written);
    LOG_AT(3, "+ %u bytes downloaded\n", static_cast<u32>(total));
    if (total > maxBytes) {
      LOG_AT(3, "- Error: Download larger than %llu bytes\n", static_cast<unsigned long long>(maxBytes));
      result = -1;
      break;
    }
    const bool complete = c.state == 2 || (c.framing == HTTP_LENGTH && c.remaining == 0);
    if (complete) break;
    if (got < kDownloadPiece) {
      // Short of a full piece without the framed end: the sender closed (fine only for a body that ends
      // at the close) or went silent.
      const bool closedAtEnd = (c.framing == HTTP_UNTIL_CLOSE || c.framing == HTTP_UNFRAMED) && c.socket.state == 0;
      if (!closedAtEnd) {
        LOG_AT(3, "Network Receive Timeout\n");
        result = -1;
      }
      break;
    }
  }
  v3HTTPClose(&c);
  v3FileClose(&file);
  return result;
}
