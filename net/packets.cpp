// Building the request records.
#include "net/packets.h"

#include <cstring>

#include "base/settings.h"
#include "runtime/byte_order.h"
#include "runtime/strings.h"
#include "runtime/system_info.h"
#include "state/client_config.h"
#include "state/identity.h"
#include "state/queue_layout.h"

namespace {

void Put32(u8* at, u32 value) { v3StoreBE32(at, &value); }
void Put64(u8* at, u64 value) { v3StoreBE64(at, &value); }
void Put16(u8* at, u16 value) { v3StoreBE16(at, &value); }

// Copies text into a field only when it fits with its terminator; otherwise the field keeps what it held.
void PutText(u8* field, u64 capacity, const char* text) {
  if (text != nullptr) (void)v3StrCopy(reinterpret_cast<char*>(field), text, capacity);
}

}  // namespace

u16 EffectiveClientType() {
  if (g_settings.betaTeam) return 4;
  if (g_settings.advancedMethods) return 3;
  if (g_settings.internal) return 5;
  return static_cast<u16>(g_clientSettings.clientType);
}

int BuildWorkPacket(u32 type, u32 payloadSize, u32 serverAddress, u8 h[kWorkHeaderSize]) {
  if (type != WORK_REQUEST && type != RESULTS) return -1;
  v3StoreBE32(h + kWorkCoreTypeAt, reinterpret_cast<const u32*>(h + kWorkCoreTypeAt));
  Put32(h + kWorkVersionAt, kQueueVersion);
  Put32(h + kWorkMachineIdAt, g_machineId);
  Put32(h + kWorkServerAddressAt, serverAddress);
  Put64(h + kWorkIdentityAt, g_userId + g_machineId);
  h[kWorkUserNameAt] = 0;
  PutText(h + kWorkUserNameAt, 64, v3ConfigGet(&g_config, "settings", "username"));
  std::memcpy(h + kWorkTeamAt, "0", 2);
  PutText(h + kWorkTeamAt, 64, v3ConfigGet(&g_config, "settings", "team"));
  std::memset(h + 312, 0, 8);
  std::memset(h + 328, 0, kWorkHeaderSize - 328);
  Put32(h + kWorkTypeAt, type);
  if (type == WORK_REQUEST) {
    Put32(h + kWorkPayloadSizeAt, 0);
    Put64(h + kWorkBenchmarkAt, g_settings.benchmarkResult);
    v3StoreBE32(h + kWorkQueuedResultsAt, reinterpret_cast<const u32*>(h + kWorkQueuedResultsAt));
  } else {
    Put32(h + kWorkPayloadSizeAt, payloadSize);
    Put32(h + kWorkConstant1At, 1);
    Put32(h + kWorkConstant4At, 4);
  }
  return 0;
}

int BuildAssignRequest(u32 type, float performanceFraction, u8 r[kAssignRequestSize]) {
  if (type != ASSIGN_REQUEST && type != USER_ID_REQUEST) return -1;
  std::memset(r, 0, kAssignRequestSize);
  Put32(r, type);
  if (type == ASSIGN_REQUEST) {
    Put64(r + 8, g_settings.benchmarkResult);
    Put64(r + 16, g_userId);
    Put64(r + 176, v3TotalMemory());
    Put16(r + 184, EffectiveClientType());
    Put16(r + 186, static_cast<u16>(g_settings.editionCode));
    u32 fractionBits;
    std::memcpy(&fractionBits, &performanceFraction, 4);
    Put32(r + 188, fractionBits);
  }
  PutText(r + 24, 8, kClientVersion);
  Put32(r + 32, 1);
  Put32(r + 40, 4);
  PutText(r + 48, 64, v3ConfigGet(&g_config, "settings", "username"));
  PutText(r + 112, 64, v3ConfigGet(&g_config, "settings", "team"));
  return 0;
}
