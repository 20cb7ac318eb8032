// Process-wide settings of one client run: the command line, the parsed options and the values measured at
// start-up. Written only by the main thread before the work-cycle thread starts; read freely afterwards.
// Every record here is trivially destructible, because exit runs while other threads still use them.
#pragma once

#include <type_traits>

#include "runtime/types.h"

inline constexpr const char* kClientVersion = "3.25";
inline constexpr u32 kLinuxConsoleEdition = 6;

enum class RunMode : u32 { Run, Configure, DeleteUnit, SendResults, QueueInfo };

struct RunOptions {
  RunMode mode;
  u32 unitNumber;      // slot given to -delete
  u32 sendAll;         // 1 when -send was given "all"
  u32 sendUnitNumber;  // slot given to -send otherwise
};

struct ProcessSettings {
  u32 verbosity;
  u32 pauseAfterUnit;
  u32 forceAssembly;
  u16 advancedMethods;
  u16 betaTeam;
  u16 internal;
  u32 freeBsdBranding;
  const char* programName;  // points into argv, which lives as long as the process
  u32 editionCode;
  u64 benchmarkResult;
  int argc;
  char** argv;
};

extern RunOptions g_runOptions;
extern ProcessSettings g_settings;

static_assert(std::is_trivially_destructible_v<RunOptions>);
static_assert(std::is_trivially_destructible_v<ProcessSettings>);

// Puts every setting back to its default (verbosity 3, flags 0, name "qvn3").
void ResetProcessSettings();
// The part of argv[0] after its last "/" or "\"; "qvn3" when argv[0] is absent.
[[nodiscard]] const char* ProgramNameFromPath(const char* argv0);
