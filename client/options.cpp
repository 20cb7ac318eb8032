// Command-line options. Names compare exactly and case-sensitively; an option that takes an argument
// always consumes the next word, whatever it looks like; a later setting overrides an earlier one.
#include "client/options.h"

#include <cstdint>

#include "runtime/format.h"
#include "runtime/strings.h"

namespace {

constexpr u64 kOptionNameLimit = 16;

bool Is(const char* argument, const char* name) { return v3StrCmp(argument, name, kOptionNameLimit) == 0; }

// Unsigned 32-bit decimal; false when the conversion fails (a leading "-", a value above 32 bits).
bool ReadNumber(const char* text, u32* value) { return v3StrToNum(value, 4, 0, nullptr, text, 10) == 0; }

// A slot number is decimal digits and nothing else: "abc" or "all" must not read as slot 0, whose unit
// -delete would destroy.
bool ReadSlotNumber(const char* text, u32* value) {
  const char* end = nullptr;
  return text[0] != '\0' && v3StrToNum(value, 4, 0, &end, text, 10) == 0 && end != nullptr && *end == '\0';
}

}  // namespace

int ParseOptions(int argc, char** argv, RunOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasNext = i + 1 < argc;
    if (Is(arg, "-config")) {
      v3PrintConsole("Quorvane User Configuration\n\n");
      options->mode = RunMode::Configure;
    } else if (Is(arg, "-local")) {
      v3PrintConsole("Using local directory for work files\n");
    } else if (Is(arg, "-delete")) {
      if (!hasNext) {
        v3PrintConsole("Error: -delete must be followed by an argument\n");
        return -1;
      }
      u32 unit = 0;
      if (!ReadSlotNumber(argv[++i], &unit) || unit > 9) {
        v3PrintConsole("Error: Argument to -delete out of range. Must be <%i", 10);
        return -1;
      }
      options->mode = RunMode::DeleteUnit;
      options->unitNumber = unit;
    } else if (Is(arg, "-verbosity")) {
      if (!hasNext) {
        v3PrintConsole("Error: -verbosity must be followed by an argument\n");
        return -1;
      }
      u32 level = 0;
      if (ReadNumber(argv[++i], &level)) g_settings.verbosity = level;
      if (g_settings.verbosity < 1 || g_settings.verbosity > 9) {
        v3PrintConsole("Error: Verbosity must be between 1 (min) and 9 (max)");
        return -1;
      }
    } else if (Is(arg, "-queueinfo")) {
      options->mode = RunMode::QueueInfo;
    } else if (Is(arg, "-send")) {
      if (!hasNext) {
        v3PrintConsole("Error: -send must be followed by an argument\n");
        return -1;
      }
      const char* which = argv[++i];
      options->mode = RunMode::SendResults;
      options->sendAll = Is(which, "all") ? 1 : 0;
      // A number that cannot be read names no slot at all, so the send refuses it instead of sending slot 0.
      if (!options->sendAll && !ReadSlotNumber(which, &options->sendUnitNumber)) {
        options->sendUnitNumber = UINT32_MAX;
      }
    } else if (Is(arg, "-pause")) {
      g_settings.pauseAfterUnit = 1;
    } else if (Is(arg, "-forceasm")) {
      g_settings.forceAssembly = 1;
    } else if (Is(arg, "-advmethods")) {
      g_settings.advancedMethods = 1;
    } else if (Is(arg, "-betateam")) {
      g_settings.betaTeam = 1;
    } else if (Is(arg, "-internal")) {
      g_settings.internal = 1;
    } else if (Is(arg, "-freeBSD")) {
      g_settings.freeBsdBranding = 1;
    } else {
      v3PrintConsole("Bad argument: %s\n", arg);
      return -1;
    }
  }
  return 0;
}

void PrintUsage() {
  v3PrintConsole("Quorvane Version ");
  v3PrintConsole("%s", kClientVersion);
  v3PrintConsole("\nUsage:   %.30s [-mode]\n\n", g_settings.programName);
  v3PrintConsole(
      "modes:\n"
      "  -config      Configure user information\n"
      "  -queueinfo   Get information on queued work units\n"
      "  -delete x    Delete item #x from work queue\n"
      "  -send x      Send result #x to server. Use x=all to send all results\n"
      "  -verbosity x Sets the output level, from 1 to 9 (max). The default is 3\n"
      "  -pause       Pause after finishing & trying to send current unit\n"
      "  -forceasm    Force core assembly optimizations (preferably SSE) to be used if available\n"
      "  -advmethods  Use new advanced scientific cores and/or work units if available\n");
  v3PrintConsole("  -freeBSD     Make brandelf system call on downloaded cores.\n");
  v3PrintConsole("\n");
}
