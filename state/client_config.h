// The client's configuration: "client.cfg" loaded into one document for the run, the settings derived
// from it at start-up, the first-run defaults and the count of completed units.
#pragma once

#include <atomic>

#include "runtime/config.h"
#include "runtime/types.h"

inline constexpr const char* kConfigFileName = "client.cfg";
inline constexpr const char* kDefaultProxyHost = "localhost";

struct ClientSettings {
  bool askBeforeConnecting;
  std::atomic<bool> connectionOpen;  // an exchange with the servers has started since asking was last needed
  s32 corePriority;
  s32 cpuUsage;
  bool useAssembly;
  bool honourDeadlines;
  s32 clientType;  // 0 no-pref, 1 qvn, 2 zel
  u32 proxyAddress;  // 0: connect directly
  u16 proxyPort;
  char proxyUser[64];
  char proxyPassword[64];
  bool sandboxCores;  // [sandbox] core: every core run confined (default), unless "no"
};

extern ConfigFile g_config;
extern ClientSettings g_clientSettings;

// Loads the configuration, derives the settings, establishes user and machine ID, seeds the random
// generator. 0, or -1 when the file cannot be loaded, the proxy settings are incomplete or there is no user ID.
[[nodiscard]] int LoadClientSettings();
// Writes the first-run defaults where a key is absent, keeping every value already stored; the save's result.
int WriteDefaultSettings();
// Adds one to the units completed on this machine and saves it; the save's result.
int CountCompletedUnit();
// The C library's text-to-integer rule: leading digits, 0 for a non-number, clamped to 32 bits.
[[nodiscard]] s32 TextToInt(const char* text);
