// A stand-in computational core that honours the client's core contract:
//   ./core -dir D -suffix NN [-cleanup] [-priority n] [-cpu n] [-noassembly] [-notermcheck] [-forceasm]
//          -lifeline PID
// It digests D/wudata_NN.dat (64-bit FNV-1a, in steps), writes D/logfile_NN.txt with a "Finished" line per
// step, keeps D/wuinfo_NN.dat (512 bytes: name at 4, total steps at 84, completed steps at 88) and leaves
// D/wuresults_NN.dat ("fnv1a64 <hex>\n"), then exits 100. With -cleanup it removes the unit's files and
// exits 101; on SIGTERM or SIGINT, or when the -lifeline process has gone, it stops after the current step
// and exits 102.
// For tests: D/exit_NN.txt, if present, holds a status to exit with at once (the file is removed, so it
// applies to one run); D/argv_NN.txt receives each command line; QVN_CORE_STEPS and QVN_CORE_STEP_MS set
// the number of steps (default 10) and the time each takes (default 100 ms); QVN_CORE_SAY, a line its log
// starts with (any bytes, as a hostile core might write). Built as hostile_core, it first tries to escape
// its sandbox (hostile_attempts.h).
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef QVN_HOSTILE_CORE
#include "hostile_attempts.h"
#endif

namespace {

volatile sig_atomic_t g_stop = 0;

void RequestStop(int) { g_stop = 1; }

struct Args {
  std::string dir;
  std::string suffix;
  bool cleanup = false;
  bool valid = true;
  long lifeline = 0;
};

Args Parse(int argc, char** argv) {
  Args a;
  bool lifeline = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-dir" && hasValue) {
      a.dir = argv[++i];
    } else if (arg == "-suffix" && hasValue) {
      a.suffix = argv[++i];
    } else if ((arg == "-priority" || arg == "-cpu") && hasValue) {
      ++i;
    } else if (arg == "-lifeline" && hasValue) {
      lifeline = true;
      a.lifeline = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "-cleanup") {
      a.cleanup = true;
    } else if (arg != "-noassembly" && arg != "-notermcheck" && arg != "-forceasm") {
      a.valid = false;
    }
  }
  if (a.dir.empty() || a.suffix.size() != 2 || !lifeline) a.valid = false;
  return a;
}

std::string File(const Args& a, const char* stem, const char* extension) {
  return a.dir + stem + a.suffix + extension;
}

bool ReadAll(const std::string& path, std::vector<unsigned char>* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

void WriteInfo(const Args& a, const std::string& name, uint32_t total, uint32_t completed) {
  unsigned char info[512] = {};
  std::strncpy(reinterpret_cast<char*>(info + 4), name.c_str(), 79);
  for (int b = 0; b < 4; ++b) {
    info[84 + b] = static_cast<unsigned char>(total >> (8 * b));
    info[88 + b] = static_cast<unsigned char>(completed >> (8 * b));
  }
  const std::string path = File(a, "wuinfo_", ".dat");
  const std::string temporary = path + ".tmp";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(info, 1, sizeof info, f);
  std::fclose(f);
  std::rename(temporary.c_str(), path.c_str());
}

int ForcedExit(const Args& a) {
  const std::string path = File(a, "exit_", ".txt");
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return -1;
  int code = -1;
  if (std::fscanf(f, "%d", &code) != 1) code = -1;
  std::fclose(f);
  std::remove(path.c_str());
  return code;
}

unsigned long EnvNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtoul(text, nullptr, 10) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGTERM, RequestStop);
  signal(SIGINT, RequestStop);
  const Args a = Parse(argc, argv);
  if (!a.valid) return 115;  // ARGS_NOT_RECOGNISED

  if (FILE* record = std::fopen(File(a, "argv_", ".txt").c_str(), "a")) {
    for (int i = 0; i < argc; ++i) std::fprintf(record, "%s%s", i ? " " : "", argv[i]);
    std::fputc('\n', record);
    std::fclose(record);
  }
  if (a.cleanup) {
    for (const char* stem : {"wudata_", "wuinfo_", "wuresults_"}) std::remove(File(a, stem, ".dat").c_str());
    std::remove(File(a, "logfile_", ".txt").c_str());
    return 101;  // SPECIAL_EXIT: the unit's files are gone
  }

  FILE* log = std::fopen(File(a, "logfile_", ".txt").c_str(), "a");
  if (log == nullptr) return 117;  // FILE_READ_ERROR
  setvbuf(log, nullptr, _IOLBF, 0);
  std::fprintf(log, "Demo core 1.0 started on unit %s\n", a.suffix.c_str());
  if (const char* say = std::getenv("QVN_CORE_SAY")) std::fprintf(log, "%s\n", say);
#ifdef QVN_HOSTILE_CORE
  hostile::TryEverything(a.dir, a.lifeline);
#endif
  const int forced = ForcedExit(a);
  if (forced >= 0) {
    std::fprintf(log, "Exiting with forced status %d\n", forced);
    std::fclose(log);
    return forced;
  }
  std::vector<unsigned char> data;
  if (!ReadAll(File(a, "wudata_", ".dat"), &data)) {
    std::fprintf(log, "Work file missing\n");
    std::fclose(log);
    return 116;  // WORK_FILES_MISSING
  }

  const uint32_t steps = static_cast<uint32_t>(EnvNumber("QVN_CORE_STEPS", 10));
  const unsigned long stepMs = EnvNumber("QVN_CORE_STEP_MS", 100);
  const std::string name = "demo unit " + a.suffix;
  uint64_t hash = 14695981039346656037ULL;
  WriteInfo(a, name, steps, 0);
  for (uint32_t step = 0; step < steps; ++step) {
    const size_t begin = data.size() * step / steps;
    const size_t end = data.size() * (step + 1) / steps;
    for (size_t i = begin; i < end; ++i) hash = (hash ^ data[i]) * 1099511628211ULL;
    usleep(static_cast<useconds_t>(stepMs * 1000));
    WriteInfo(a, name, steps, step + 1);
    std::fprintf(log, "Finished %u of %u steps\n", step + 1, steps);
    // The client that started this run is gone: nobody will take the result.
    if (a.lifeline > 0 && kill(static_cast<pid_t>(a.lifeline), 0) != 0 && errno == ESRCH) g_stop = 1;
    if (g_stop) {
      std::fprintf(log, "Interrupted: stopping\n");
      std::fclose(log);
      return 102;  // STOP_REQUESTED
    }
  }
  FILE* result = std::fopen(File(a, "wuresults_", ".dat").c_str(), "wb");
  if (result == nullptr) return 117;
  std::fprintf(result, "fnv1a64 %016" PRIx64 "\n", hash);
  std::fclose(result);
  std::fprintf(log, "Writing local files\nUnit finished\n");
  std::fclose(log);
  return 100;  // RESULT_READY
}
