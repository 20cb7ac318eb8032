// Loading client.cfg and deriving the run's settings and identity.
#include "state/client_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "runtime/format.h"
#include "runtime/socket.h"
#include "runtime/strings.h"
#include "state/identity.h"

ConfigFile g_config = {};
ClientSettings g_clientSettings = {};

namespace {

u32 g_unitsCompleted = 0;

bool BeginsWith(const char* value, const char* prefix) {
  return value != nullptr && std::strncmp(value, prefix, std::strlen(prefix)) == 0;
}

bool BeginsWithY(const char* value) { return value != nullptr && (value[0] == 'Y' || value[0] == 'y'); }

void Save() { (void)v3ConfigSave(&g_config, kConfigFileName); }

void SetIfAbsent(const char* section, const char* key, const char* value) {
  if (v3ConfigGet(&g_config, section, key) == nullptr) (void)v3ConfigSet(&g_config, section, key, value);
}

// Copies a proxy credential when it fits its 64-byte buffer.
void TakeCredential(char* out, const char* value) {
  if (std::strlen(value) < 64) std::memcpy(out, value, std::strlen(value) + 1);
}

// The proxy part of the settings; -1 when the proxy is active but incomplete.
int LoadProxySettings() {
  ClientSettings& s = g_clientSettings;
  s.proxyAddress = 0;
  s.proxyPort = 0;
  const char* active = v3ConfigGet(&g_config, "http", "active");
  if (active == nullptr) {
    (void)v3ConfigSet(&g_config, "http", "active", "no");
    Save();
    return 0;
  }
  if (!BeginsWith(active, "yes")) return 0;
  const char* host = v3ConfigGet(&g_config, "http", "host");
  if (host == nullptr) {
    LOG_AT(3, "Bad proxy settings. Use %.30s -config to reconfigure\n", g_settings.programName);
    return -1;
  }
  u32 address = 0;
  if (v3NetLookup(&address, 1, host) == 1) {
    s.proxyAddress = address;
  } else {
    LOG_AT(3, "Failed to resolve hostname for proxy. Will connect directly.\n");
  }
  LOG_AT(3, "- Proxy: %s", host);
  const char* port = v3ConfigGet(&g_config, "http", "port");
  if (port == nullptr) {
    LOG_AT(3, "+ Bad proxy settings. Please reconfigure\n");
    s.proxyPort = 0;
    return -1;
  }
  u32 portNumber = 0;
  if (v3StrToNum(&portNumber, 4, 0, nullptr, port, 10) != 0) portNumber = 0;
  s.proxyPort = static_cast<u16>(portNumber);
  LOG_AT(3, ":%u\n", static_cast<u32>(s.proxyPort));

  const char* usePassword = v3ConfigGet(&g_config, "http", "usepasswd");
  if (usePassword == nullptr) {
    (void)v3ConfigSet(&g_config, "http", "usepasswd", "no");
    Save();
    usePassword = "no";
  }
  if (!BeginsWith(usePassword, "yes")) {
    s.proxyUser[0] = s.proxyPassword[0] = '\0';
    return 0;
  }
  const char* name = v3ConfigGet(&g_config, "http", "proxy_name");
  if (name == nullptr || name[0] == '\0') return 0;  // name and password keep their previous values
  TakeCredential(s.proxyUser, name);
  const char* password = v3ConfigGet(&g_config, "http", "proxy_passwd");
  if (password != nullptr && password[0] != '\0') {
    TakeCredential(s.proxyPassword, password);
    LOG_AT(3, "- Proxy password enabled\n");
  } else {
    s.proxyUser[0] = s.proxyPassword[0] = '\0';
  }
  return 0;
}

// The user ID from its file, or else from the assignment server; -1 when there is none.
int EstablishUserId() {
  u8 raw[8];
  char hex[24];
  if (LoadUserId(raw) == 0) {
    g_userId = 0;
    for (int i = 7; i >= 0; --i) g_userId = g_userId << 8 | raw[i];
    v3PrintBuffer(hex, sizeof hex, "%Y", g_userId);
    LOG_AT(3, "- User ID = %s\n", hex);
    return 0;
  }
  LOG_AT(3, "- User ID not found locally\n");
  LOG_AT(3, "+ Requesting User ID from server\n");
  char text[64] = {};
  if (RequestNewUserId(text, sizeof text) != 0) {
    LOG_AT(4, "- Fatal: Could not get new user ID\n");
    return -1;
  }
  LOG_AT(4, "- Received User ID = %s\n", text);
  u64 id = 0;
  if (v3StrToNum(&id, 8, 0, nullptr, text, 16) != 0) id = 0;  // an unreadable ID is taken as 0, and logged below
  g_userId = id;
  for (int i = 0; i < 8; ++i) raw[i] = static_cast<u8>(id >> (8 * i));
  if (SaveUserId(raw) != 0) LOG_AT(3, "- Warning: Could not save user ID\n");
  return 0;
}

void EstablishMachineId() {
  const char* text = v3ConfigGet(&g_config, "settings", "machineid");
  u32 id = 0;
  if (text == nullptr || v3StrToNum(&id, 4, 0, nullptr, text, 16) != 0 || id == 0 || id > 4) {
    id = 1;
    (void)v3ConfigSet(&g_config, "settings", "machineid", "1");
    Save();
  }
  g_machineId = id;
  LOG_AT(3, "- Machine ID: %u\n", id);
  LOG_AT(3, "\n");
}

// The core sandbox has a section of its own (the design's keys are found by prefix, so new keys stay out
// of its sections): "[sandbox] core=no" turns it off for a project whose cores need more.
void LoadSandboxSetting() {
  const char* value = v3ConfigGet(&g_config, "sandbox", "core");
  g_clientSettings.sandboxCores = true;
  if (value == nullptr || std::strcmp(value, "yes") == 0) return;
  if (std::strcmp(value, "no") == 0) {
    g_clientSettings.sandboxCores = false;
    LOG_AT(3, "- Core sandbox: off (sandbox core=no); cores run with all of this user's rights\n");
  } else {
    LOG_AT(3, "- Core sandbox: core=%.32s is neither yes nor no; the sandbox stays on\n", value);
  }
}

}  // namespace

s32 TextToInt(const char* text) {
  if (text == nullptr) return 0;
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<s32>(value);
}

int LoadClientSettings() {
  v3ConfigFree(&g_config);
  if (v3ConfigLoad(&g_config, kConfigFileName) != 0) return -1;
  ClientSettings& s = g_clientSettings;

  s.askBeforeConnecting = BeginsWith(v3ConfigGet(&g_config, "settings", "asknet"), "yes");
  s.connectionOpen = !s.askBeforeConnecting;
  LOG_AT(3, s.askBeforeConnecting ? "- Ask before connecting: Yes\n" : "- Ask before connecting: No\n");

  const char* priority = v3ConfigGet(&g_config, "core", "priority");
  s.corePriority = priority != nullptr ? TextToInt(priority) : 0;
  const char* cpu = v3ConfigGet(&g_config, "core", "cpuusage");
  s.cpuUsage = cpu != nullptr ? TextToInt(cpu) : 100;
  s.useAssembly = !BeginsWithY(v3ConfigGet(&g_config, "core", "disableassembly"));
  s.honourDeadlines = !BeginsWithY(v3ConfigGet(&g_config, "core", "ignoredeadlines"));
  const char* type = v3ConfigGet(&g_config, "clienttype", "type");
  s.clientType = type != nullptr ? TextToInt(type) : 0;
  LoadSandboxSetting();

  if (LoadProxySettings() != 0) return -1;

  if (const char* name = v3ConfigGet(&g_config, "settings", "username")) {
    LOG_AT(3, "- User name: %s", name);
    const char* team = v3ConfigGet(&g_config, "settings", "team");
    if (team != nullptr) {
      LOG_AT(3, " (Team %s)\n", team);
    } else {
      LOG_AT(3, "\n");
    }
  }
  if (EstablishUserId() != 0) return -1;
  EstablishMachineId();
  std::srand(static_cast<u32>(g_userId));
  return 0;
}

int WriteDefaultSettings() {
  v3ConfigFree(&g_config);
  if (v3ConfigLoad(&g_config, kConfigFileName) != 0) {
    v3ConfigFree(&g_config);
    (void)v3ConfigLoad(&g_config, nullptr);
  }
  if (v3ConfigGet(&g_config, "settings", "username") == nullptr) {
    (void)v3ConfigSet(&g_config, "settings", "username", "Anonymous");
    (void)v3ConfigSet(&g_config, "settings", "team", "0");
  }
  // Only absent keys get their defaults: start-up comes here after any failure to load the settings (a
  // user-ID request during an outage, a lock conflict), which must not undo the user's own choices.
  SetIfAbsent("settings", "asknet", "no");
  SetIfAbsent("http", "active", "no");
  SetIfAbsent("http", "host", kDefaultProxyHost);
  SetIfAbsent("http", "port", "8080");
  return v3ConfigSave(&g_config, kConfigFileName);
}

int CountCompletedUnit() {
  char text[16];
  if (g_unitsCompleted != 0) {
    ++g_unitsCompleted;
  } else if (const char* stored = v3ConfigGet(&g_config, "settings", "local")) {
    g_unitsCompleted = static_cast<u32>(TextToInt(stored)) + 1;
  }
  if (g_unitsCompleted != 0) {
    LOG_AT(3, "+ Number of Units Completed: %u\n", g_unitsCompleted);
    std::snprintf(text, sizeof text, "%d", static_cast<int>(g_unitsCompleted));
  } else {
    LOG_AT(3, "+ Starting local stats count at 1\n");
    std::snprintf(text, sizeof text, "1");
  }
  (void)v3ConfigSet(&g_config, "settings", "local", text);
  return v3ConfigSave(&g_config, kConfigFileName);
}
