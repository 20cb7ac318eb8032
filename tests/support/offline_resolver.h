// Name lookups for unit tests that cannot depend on the machine's network: "localhost" and addresses
// written as numbers resolve, every other name fails at once, as it would where nothing answers.
#pragma once

#include <netdb.h>

#include <cstring>

#include "runtime/socket.h"

inline int OfflineResolve(const char* host, const addrinfo* hints, addrinfo** found) {
  addrinfo numeric = *hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  return ::getaddrinfo(std::strcmp(host, "localhost") == 0 ? "127.0.0.1" : host, nullptr, &numeric, found);
}

// Holds the offline resolver for its lifetime.
struct OfflineResolver {
  OfflineResolver() { v3NetSetResolver(OfflineResolve); }
  ~OfflineResolver() { v3NetSetResolver(nullptr); }
};
