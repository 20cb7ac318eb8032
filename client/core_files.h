// Core executables: their names and whether one is present.
#pragma once

#include "runtime/types.h"

inline constexpr const char* kWorkDirectory = "work/";
inline constexpr u64 kCoreFileNameCapacity = 64;

// "QvnCore_%x.exe" with the core number in lower-case hexadecimal ("PartnerQvnCore_" for edition 5).
void CoreFileName(u32 coreNumber, char name[kCoreFileNameCapacity]);
// True when the file can be looked up and is not empty.
[[nodiscard]] bool CorePresent(const char* name);
