// The user ID file.
#include "state/identity.h"

#include "runtime/file.h"
#include "runtime/file_replace.h"

u64 g_userId = 0;
u32 g_machineId = 1;

int LoadUserId(u8 buffer[8]) {
  RuntimeFile file{};
  if (v3FileOpen(&file, kUserIdFileName, V3_FILE_READ, V3_LOCK_NONE) != 0) return -1;
  u64 got = 0;
  const int rc = v3FileRead(buffer, &got, &file, 8);
  v3FileClose(&file);
  return rc == 0 && got == 8 ? 0 : -1;
}

int SaveUserId(const u8 buffer[8]) { return v3FileReplace(kUserIdFileName, buffer, 8, V3_FILE_PRIVATE) == 0 ? 0 : -1; }

namespace {

UserIdSource g_userIdSource = nullptr;

}  // namespace

void SetUserIdSource(UserIdSource source) { g_userIdSource = source; }

int RequestNewUserId(char* text, u64 capacity) {
  return g_userIdSource != nullptr ? g_userIdSource(text, capacity) : -1;
}
