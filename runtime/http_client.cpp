// The HTTP connection: URL and credentials, requests, and body reading by framing.
#include <cstdio>
#include <cstring>

#include "runtime/codec.h"
#include "runtime/format.h"
#include "runtime/http.h"
#include "runtime/memory.h"
#include "runtime/strings.h"
#include "runtime/time.h"

namespace {

int SocketRead(void* context, u8* out, u64 count, u64* got, u32 limitMs) {
  return v3NetRecv(out, got, static_cast<v3Socket*>(context), count, limitMs);
}

bool HasLineBreak(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

// "<prefix>Basic <base64 of user:password>\r\n" in a new block, or null when it cannot be made.
char* BasicCredentials(const char* prefix, const char* user, const char* password) {
  ByteBuffer encoded{};
  CodecStream stream{};
  if (v3DecompressInit(&encoded, &stream, v3Base64EncodeInit, v3Base64EncodeUpdate, v3Base64EncodeEnd,
                       v3Base64DecodeInit, v3Base64DecodeUpdate, v3Base64DecodeEnd, V3_CODEC_ENCODE, 0,
                       nullptr) != 0) {
    return nullptr;
  }
  const bool fed = v3Decompress(&encoded, &stream, user, std::strlen(user)) == 0 &&
                   v3Decompress(&encoded, &stream, ":", 1) == 0 &&
                   v3Decompress(&encoded, &stream, password, std::strlen(password)) == 0;
  const bool ended = v3DecompressEnd(&encoded, &stream) == 0;
  char* header = nullptr;
  const u64 length = v3BufferLength(&encoded);
  if (fed && ended) header = static_cast<char*>(v3MemAlloc(length + std::strlen(prefix) + 32, V3_MEM_NORMAL));
  if (header != nullptr) {
    const char* text = reinterpret_cast<const char*>(v3BufferData(&encoded));
    std::sprintf(header, "%sBasic %.*s\r\n", prefix, static_cast<int>(length), text != nullptr ? text : "");
  }
  v3BufferFree(&encoded);
  return header;
}

void CloseSocket(HTTPConnection* c) {
  (void)v3NetClose(&c->socket);
  c->state = 1;
}

int ReadHead(HTTPConnection* c, u32 limitMs) {
  if (c->headerReady) v3BufferFree(&c->header);
  c->headerReady = 0;
  if (v3BufferInit(&c->header, 1024, V3_BUFFER_FIFO, 1024, nullptr, 0) != 0) return V3_HTTP_ENOMEM;
  c->headerReady = 1;
  HttpByteSource source{SocketRead, &c->socket};
  HttpResponseHead head{};
  const int rc = v3HttpReadHead(&source, &c->header, &head, limitMs);
  if (rc == V3_HTTP_EIO) {
    CloseSocket(c);
    return rc;
  }
  if (rc != 0) return rc;
  c->framing = head.framing;
  c->persistent = head.persistent;
  c->remaining = head.remaining;
  if (!head.statusKnown) return 0;  // no usable status: state stays, the body cannot be read
  c->status = head.status;
  c->state = 3;
  return 0;
}

int Request(HTTPConnection* c, u32* status, const char* path, const void* body, u64 bodyLength, bool post,
            u32 limitMs) {
  if (status != nullptr) *status = 0;
  if (c == nullptr || status == nullptr || path == nullptr || (post && body == nullptr && bodyLength != 0)) {
    return V3_HTTP_ENULL;
  }
  if (HasLineBreak(path)) return V3_HTTP_EURL;  // a path from the network must not add header lines
  if (c->persistent != 1) {
    if (c->socket.state != 0) (void)v3NetClose(&c->socket);
    c->state = 1;
  }
  if (c->state == 1) {
    const bool viaProxy = c->proxyAddress != 0 && c->proxyPort != 0;
    if (v3NetConnect(&c->socket, viaProxy ? c->proxyAddress : c->serverAddress,
                     viaProxy ? c->proxyPort : c->serverPort, 0, 0, V3_SOCKET_STREAM) != 0) {
      return V3_HTTP_EIO;
    }
    c->state = 2;
  } else if (c->state != 2) {
    return V3_HTTP_ESTATE;
  }
  const char* proxyAuth = c->proxyAuthorization != nullptr ? c->proxyAuthorization : "";
  const char* auth = c->authorization != nullptr ? c->authorization : "";
  // Sized for what it carries: the host twice (up to 287 characters each), path, credentials, the fixed
  // words and a 20-digit length.
  const u64 capacity = 160 + 2 * std::strlen(c->host) + std::strlen(path) + std::strlen(proxyAuth) + std::strlen(auth);
  auto* text = static_cast<char*>(v3MemAlloc(capacity, V3_MEM_NORMAL));
  if (text == nullptr) return V3_HTTP_ENOMEM;
  const int hostLength = static_cast<int>(std::strlen(c->host));
  if (post) {
    v3PrintBuffer(text, capacity,
                  "POST http://%.*s%s HTTP/1.1\r\nHost: %.*s\r\n%s%sConnection: Keep-Alive\r\nContent-Length: %v\r\n\r\n",
                  hostLength, c->host, path, hostLength, c->host, proxyAuth, auth, bodyLength);
  } else {
    v3PrintBuffer(text, capacity, "GET http://%.*s%s HTTP/1.1\r\nHost: %.*s\r\n%s%sConnection: Keep-Alive\r\n\r\n",
                  hostLength, c->host, path, hostLength, c->host, proxyAuth, auth);
  }
  const u64 startMs = v3MonotonicMs();
  u64 sent = 0;
  int rc = v3NetSend(&c->socket, &sent, text, std::strlen(text), limitMs);
  v3MemFree(text);
  if (rc == 0 && post && bodyLength > 0) {
    rc = v3NetSend(&c->socket, &sent, body, bodyLength, v3MillisecondsLeft(startMs, limitMs));
  }
  if (rc != 0) {
    CloseSocket(c);
    return V3_HTTP_EIO;
  }
  rc = ReadHead(c, v3MillisecondsLeft(startMs, limitMs));
  if (rc == 0) *status = c->status;
  return rc;
}

}  // namespace

int v3HTTPOpen(HTTPConnection* c, const char* url, u32 proxyAddress, u16 proxyPort, const char* proxyUser,
               const char* proxyPassword, const char* user, const char* password) {
  if (c == nullptr || url == nullptr) return V3_HTTP_ENULL;
  if (c->state != 0) return V3_HTTP_ESTATE;
  const u64 length = std::strlen(url);
  if (length < 9 || strncasecmp(url, "http", 4) != 0 || std::strncmp(url + 4, "://", 3) != 0) return V3_HTTP_EURL;
  if (HasLineBreak(url)) return V3_HTTP_EURL;  // core locations come from a server
  const char* hostStart = url + 7;
  const char* slash = std::strchr(hostStart, '/');
  const u64 hostLength = slash != nullptr ? static_cast<u64>(slash - hostStart) : std::strlen(hostStart);
  if (hostLength > V3_HTTP_HOST_MAX) return V3_HTTP_EURL;
  std::memcpy(c->host, hostStart, hostLength);
  c->host[hostLength] = '\0';

  char name[V3_HTTP_HOST_MAX + 1];
  std::memcpy(name, c->host, hostLength + 1);
  c->serverPort = 80;
  if (char* colon = std::strchr(name, ':')) {
    *colon = '\0';
    u32 port = 0;
    const char* end = nullptr;
    if (v3StrToNum(&port, 4, 0, &end, colon + 1, 10) != 0 || end == colon + 1 || port > 65535) {
      return V3_HTTP_EURL;
    }
    c->serverPort = static_cast<u16>(port);
  }
  const bool viaProxy = proxyAddress != 0 && proxyPort != 0;
  if (viaProxy) {
    c->proxyAddress = proxyAddress;
    c->proxyPort = proxyPort;
    c->serverAddress = 0;
    // The proxy resolves names itself; an address in the URL can still be refused here.
    u32 written = 0;
    if (v3NetParseAddress(&written, name) && v3NetAddressForbidden(written)) return V3_HTTP_EADDRESS;
  } else {
    c->proxyAddress = 0;
    c->proxyPort = 0;
    if (v3NetLookup(&c->serverAddress, 1, name) != 1) return V3_HTTP_EURL;
    if (v3NetAddressForbidden(c->serverAddress)) return V3_HTTP_EADDRESS;
  }
  // Proxy credentials are for the proxy alone: a direct connection would hand them to the server.
  if (viaProxy && proxyUser != nullptr && proxyPassword != nullptr) {
    c->proxyAuthorization = BasicCredentials("Proxy-Authorization: ", proxyUser, proxyPassword);
    if (c->proxyAuthorization == nullptr) return V3_HTTP_ENOMEM;
  }
  if (user != nullptr && password != nullptr) {
    c->authorization = BasicCredentials("Authorization: ", user, password);
    if (c->authorization == nullptr) {
      v3MemFree(c->proxyAuthorization);
      c->proxyAuthorization = nullptr;
      return V3_HTTP_ENOMEM;
    }
  }
  c->framing = HTTP_LENGTH;
  c->remaining = 0;
  c->state = 1;
  return 0;
}

int v3HTTPGet(HTTPConnection* c, u32* status, const char* path, u32 limitMs) {
  return Request(c, status, path, nullptr, 0, false, limitMs);
}

int v3HTTPPost(HTTPConnection* c, u32* status, const char* path, const void* body, u64 bodyLength, u32 limitMs) {
  return Request(c, status, path, body, bodyLength, true, limitMs);
}

int v3HTTPRecv(void* buffer, u64* received, HTTPConnection* c, u64 count, u32 limitMs) {
  if (received != nullptr) *received = 0;
  if (buffer == nullptr || received == nullptr || c == nullptr) return V3_HTTP_ENULL;
  if (c->state != 3) return V3_HTTP_ESTATE;
  auto* out = static_cast<u8*>(buffer);
  const u64 startMs = v3MonotonicMs();
  // Every read below takes what is left of the call's one limit.
  auto left = [&] { return v3MillisecondsLeft(startMs, limitMs); };
  bool timedOut = false;
  u64 got = 0;
  switch (c->framing) {
    case HTTP_UNFRAMED:
      *received = v3BufferRead(out, count, &c->header);
      if (*received == count) return 0;
      [[fallthrough]];
    case HTTP_UNTIL_CLOSE: {
      const int rc = v3NetRecv(out + *received, &got, &c->socket, count - *received, left());
      timedOut = rc == V3_NET_ETIMEOUT;
      if (rc != 0 && got == 0 && c->socket.state == 0) c->state = 1;
      *received += got;
      break;
    }
    case HTTP_LENGTH: {
      if (c->remaining == 0) {
        c->state = 2;
        return 0;
      }
      const u64 want = count < c->remaining ? count : c->remaining;
      const int rc = v3NetRecv(out, &got, &c->socket, want, left());
      timedOut = rc == V3_NET_ETIMEOUT;
      if (rc != 0 && got == 0 && c->socket.state == 0) c->state = 1;
      c->remaining -= static_cast<u32>(got);
      *received = got;
      break;
    }
    default: {
      HttpByteSource source{SocketRead, &c->socket};
      while (*received < count) {
        if (c->remaining > 0) {
          const u64 want = count - *received < c->remaining ? count - *received : c->remaining;
          const int rc = v3NetRecv(out + *received, &got, &c->socket, want, left());
          *received += got;
          c->remaining -= static_cast<u32>(got);
          if (rc != 0) {
            timedOut = rc == V3_NET_ETIMEOUT;
            if (c->socket.state == 0) c->state = 1;
            break;
          }
          continue;
        }
        u32 size = 0;
        if (v3HttpReadChunkSize(&source, &size, left()) != 0) {
          CloseSocket(c);
          return 0;
        }
        if (size == 0) {
          c->state = 2;
          return 0;
        }
        c->remaining = size;
      }
      break;
    }
  }
  // Nothing came within the limit: the response is abandoned and the connection closed, ready to reconnect.
  if (timedOut && *received == 0) CloseSocket(c);
  return 0;
}

int v3HTTPClose(HTTPConnection* c) {
  if (c == nullptr) return V3_HTTP_ENULL;
  (void)v3NetClose(&c->socket);
  if (c->headerReady) v3BufferFree(&c->header);
  v3MemFree(c->proxyAuthorization);
  v3MemFree(c->authorization);
  std::memset(static_cast<void*>(c), 0, sizeof *c);
  return 0;
}
