// Storage and defaults of the process-wide settings.
#include "base/settings.h"

RunOptions g_runOptions = {RunMode::Run, 0, 0, 0};
ProcessSettings g_settings = {3, 0, 0, 0, 0, 0, 0, "qvn3", kLinuxConsoleEdition, 0, 0, nullptr};

void ResetProcessSettings() {
  g_runOptions = RunOptions{RunMode::Run, 0, 0, 0};
  g_settings = ProcessSettings{3, 0, 0, 0, 0, 0, 0, "qvn3", kLinuxConsoleEdition, 0, 0, nullptr};
}

const char* ProgramNameFromPath(const char* argv0) {
  if (argv0 == nullptr) return "qvn3";
  const char* name = argv0;
  for (const char* p = argv0; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}
