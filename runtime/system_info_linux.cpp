// Machine facts from Linux sysinfo, /sys/class/power_supply and /proc.
#include <dirent.h>
#include <sys/sysinfo.h>

#include <cstdio>
#include <cstring>

#include "runtime/system_info.h"

namespace {

// The first line of a small text file, without its line end; false when it cannot be read.
bool ReadLine(const char* path, char* out, int capacity) {
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  const bool read = std::fgets(out, capacity, file) != nullptr;
  std::fclose(file);
  if (read) out[std::strcspn(out, "\n")] = '\0';
  return read;
}

}  // namespace

u64 v3TotalMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  return static_cast<u64>(info.totalram);
}

int v3PowerOnBattery(const char* root) {
  DIR* supplies = root != nullptr ? opendir(root) : nullptr;
  if (supplies == nullptr) return 0;
  bool battery = false;
  bool discharging = false;
  bool mainsListed = false;
  bool mainsOnline = false;
  while (const dirent* entry = readdir(supplies)) {
    if (entry->d_name[0] == '.') continue;
    char path[512];
    char type[64];
    char value[64];
    std::snprintf(path, sizeof path, "%s/%s/type", root, entry->d_name);
    if (!ReadLine(path, type, sizeof type)) continue;
    if (std::strcmp(type, "Battery") == 0) {
      battery = true;
      std::snprintf(path, sizeof path, "%s/%s/status", root, entry->d_name);
      if (ReadLine(path, value, sizeof value) && std::strcmp(value, "Discharging") == 0) discharging = true;
      continue;
    }
    mainsListed = true;
    std::snprintf(path, sizeof path, "%s/%s/online", root, entry->d_name);
    if (ReadLine(path, value, sizeof value) && std::strcmp(value, "1") == 0) mainsOnline = true;
  }
  closedir(supplies);
  if (!battery) return 0;
  return (mainsListed ? !mainsOnline : discharging) ? 1 : 0;
}

int v3ProcessorTimes(u64* busy, u64* total) {
  char line[512];
  if (!ReadLine("/proc/stat", line, sizeof line) || std::strncmp(line, "cpu ", 4) != 0) return -1;
  unsigned long long t[8] = {};
  if (std::sscanf(line + 4, "%llu %llu %llu %llu %llu %llu %llu %llu", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5],
                  &t[6], &t[7]) < 4) {
    return -1;
  }
  u64 sum = 0;
  for (unsigned long long v : t) sum += v;
  *total = sum;
  *busy = sum - t[3] - t[4];  // less idle and I/O wait
  return 0;
}

u64 v3ProcessTicks(u64 processId) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%llu/stat", static_cast<unsigned long long>(processId));
  char line[1024];
  if (!ReadLine(path, line, sizeof line)) return 0;
  const char* fields = std::strrchr(line, ')');  // the name may hold blanks and parentheses
  unsigned long long user = 0;
  unsigned long long system = 0;
  if (fields == nullptr ||
      std::sscanf(fields + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2) {
    return 0;
  }
  return user + system;
}
