// The client's identity: the 64-bit user ID kept in "machinedependent.dat" (8 bytes, little-endian) and
// the machine ID 1 to 4 kept in the configuration. The packets carry their sum.
#pragma once

#include "runtime/types.h"

inline constexpr const char* kUserIdFileName = "machinedependent.dat";

extern u64 g_userId;
extern u32 g_machineId;

// Reads exactly 8 bytes; 0, or -1 when the file is missing or shorter.
[[nodiscard]] int LoadUserId(u8 buffer[8]);
// Replaces the file whole (never a partial file); 0 or -1.
[[nodiscard]] int SaveUserId(const u8 buffer[8]);
// Where a new user ID comes from: the assignment server's exchange, which lies above this layer and is
// registered at start-up. It writes the ID as hexadecimal text within capacity; 0 on success.
using UserIdSource = int (*)(char* text, u64 capacity);
void SetUserIdSource(UserIdSource source);
// Asks the registered source for a new user ID; -1 when none is registered or it fails.
[[nodiscard]] int RequestNewUserId(char* text, u64 capacity);
