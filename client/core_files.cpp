// Core file names.
#include "client/core_files.h"

#include <cstdio>

#include "base/settings.h"
#include "runtime/file.h"

void CoreFileName(u32 coreNumber, char name[kCoreFileNameCapacity]) {
  const char* prefix = g_settings.editionCode == 5 ? "PartnerQvnCore_" : "QvnCore_";
  std::snprintf(name, kCoreFileNameCapacity, "%s%x.exe", prefix, coreNumber);
}

bool CorePresent(const char* name) {
  FileInfo info{};
  return v3FileInfo(&info, name) == 0 && info.size > 0;
}
