// The metrics file.
#include "client/metrics.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/settings.h"
#include "client/core_flags.h"
#include "net/exchange_failures.h"
#include "runtime/config.h"
#include "runtime/file_replace.h"
#include "state/client_config.h"
#include "state/identity.h"
#include "state/queue_lock.h"
#include "state/work_queue.h"

namespace {

struct Snapshot {
  u32 slots[5] = {};
  bool unitCurrent = false;
  bool deadlineKnown = false;
  v3Time deadline{};
};

// The state below has no destructors: the client ends with exit() from its signal handler, where freeing
// memory is not safe.
std::mutex g_metricsMutex;       // one writer at a time; taken after the queue lock, never before it
char g_identityLabels[640];      // version, user, team, machine_id: fixed for the run
char g_machineLabel[32];         // machine_id="N": on every sample, so instances on one host never clash
char g_copyPath[V3_PATH_MAX + 1];
std::atomic<bool> g_started{false};
std::atomic<u64> g_unitsCompleted{0};
std::atomic<u64> g_resultsSent{0};
std::atomic<s64> g_lastAccepted{0};  // Unix seconds, 0 before the first accepted result
std::atomic<double> g_progress{0.0};

// Core runs by exit status, in the order first seen; under g_metricsMutex. A core has a handful of
// statuses: any beyond the table's size go uncounted.
struct CoreRuns {
  u32 status;
  u64 count;
};
CoreRuns g_coreRuns[32];
u32 g_coreRunKinds = 0;

constexpr const char* kStateNames[5] = {"empty", "ready", "done", "active", "fetching"};

// The length of the well-formed UTF-8 sequence at p (no overlong form, surrogate or value above U+10FFFF),
// or 0.
int Utf8Length(const unsigned char* p) {
  const unsigned lead = p[0];
  if (lead < 0x80) return 1;
  const int length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  for (int i = 1; i < length; ++i) {
    if ((p[i] >> 6) != 0x2) return 0;
  }
  if ((lead == 0xE0 && p[1] < 0xA0) || (lead == 0xED && p[1] >= 0xA0) || (lead == 0xF0 && p[1] < 0x90) ||
      (lead == 0xF4 && p[1] >= 0x90)) {
    return 0;
  }
  return length;
}

// A label value from the first limit bytes of text: backslash, double quote and line feed escaped, as the format asks. The format is UTF-8 and a
// collector drops a whole file it cannot read, so other control characters and bytes that are no UTF-8 (a
// name typed on a Latin-1 console) become "?".
std::string Escaped(const char* text, size_t limit) {
  std::string out;
  const std::string kept = std::string(text != nullptr ? text : "").substr(0, limit);
  const auto* p = reinterpret_cast<const unsigned char*>(kept.c_str());
  while (*p != '\0') {
    const int length = Utf8Length(p);
    if (*p == '\\' || *p == '"') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p == '\n') {
      out += "\\n";
    } else if (length == 0 || *p < 0x20 || *p == 0x7F) {
      out += '?';
    } else {
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
      p += length;
      continue;
    }
    ++p;
  }
  return out;
}

void Family(std::string* text, const char* name, const char* type, const char* help) {
  *text += "# HELP ";
  *text += name;
  *text += ' ';
  *text += help;
  *text += "\n# TYPE ";
  *text += name;
  *text += ' ';
  *text += type;
  *text += '\n';
}

void Sample(std::string* text, const char* name, const std::string& labels, double value) {
  char number[48];
  std::snprintf(number, sizeof number, "%.17g", value);
  *text += name;
  *text += '{';
  *text += labels;
  *text += "} ";
  *text += number;
  *text += '\n';
}

s64 UnixSeconds(v3Time t) { return t.seconds + V3_EPOCH_OFFSET; }

Snapshot TakeSnapshot() {
  Snapshot s;
  QueueGuard guard;
  for (const QueueEntry& entry : g_workQueue.slots) {
    if (entry.state < 5) ++s.slots[entry.state];
  }
  if (g_workQueue.currentIndex < kQueueSlots) {
    const QueueEntry& current = g_workQueue.slots[g_workQueue.currentIndex];
    s.unitCurrent = current.state == SLOT_ACTIVE || current.state == SLOT_READY;
    s.deadlineKnown = s.unitCurrent && EntryDeadlineKnown(current);
    s.deadline = current.deadline;
  }
  return s;
}

// REQUIRES: g_metricsMutex is held.
std::string Render(const Snapshot& s) {
  const std::string m = g_machineLabel;
  std::string text;
  Family(&text, "qvn3_info", "gauge", "The client's version and identity.");
  Sample(&text, "qvn3_info", g_identityLabels, 1);
  Family(&text, "qvn3_queue_slots", "gauge", "Queue slots in each state.");
  for (u32 state = 0; state < 5; ++state) {
    Sample(&text, "qvn3_queue_slots", m + ",state=\"" + kStateNames[state] + "\"", s.slots[state]);
  }
  Family(&text, "qvn3_unit_progress_ratio", "gauge", "Share of the current unit done, 0 to 1.");
  Sample(&text, "qvn3_unit_progress_ratio", m, s.unitCurrent ? g_progress.load() : 0.0);
  Family(&text, "qvn3_unit_deadline_timestamp_seconds", "gauge",
         "The current unit's deadline (absent when the server gave none).");
  if (s.deadlineKnown) Sample(&text, "qvn3_unit_deadline_timestamp_seconds", m, UnixSeconds(s.deadline));
  Family(&text, "qvn3_units_completed_total", "counter", "Units completed and accepted, over all runs.");
  Sample(&text, "qvn3_units_completed_total", m, static_cast<double>(g_unitsCompleted.load()));
  Family(&text, "qvn3_results_sent_total", "counter", "Results the servers accepted since the client started.");
  Sample(&text, "qvn3_results_sent_total", m, static_cast<double>(g_resultsSent.load()));
  Family(&text, "qvn3_exchange_failures_total", "counter",
         "Failed exchanges with the servers since the client started, by exchange.");
  for (u32 kind = 0; kind < kExchangeKinds; ++kind) {
    const Exchange e = static_cast<Exchange>(kind);
    Sample(&text, "qvn3_exchange_failures_total", m + ",exchange=\"" + ExchangeName(e) + "\"",
           static_cast<double>(ExchangeFailures(e)));
  }
  Family(&text, "qvn3_core_runs_total", "counter", "Core runs since the client started, by exit status.");
  for (u32 i = 0; i < g_coreRunKinds; ++i) {
    Sample(&text, "qvn3_core_runs_total", m + ",status=\"" + std::to_string(g_coreRuns[i].status) + "\"",
           static_cast<double>(g_coreRuns[i].count));
  }
  Family(&text, "qvn3_core_paused", "gauge", "1 while the core is paused for the machine's owner.");
  Sample(&text, "qvn3_core_paused", m, g_corePauseReason.load() != nullptr ? 1 : 0);
  Family(&text, "qvn3_last_result_accepted_timestamp_seconds", "gauge",
         "When the servers last accepted a result (absent before the first since the client started).");
  if (const s64 at = g_lastAccepted.load(); at != 0) {
    Sample(&text, "qvn3_last_result_accepted_timestamp_seconds", m, static_cast<double>(at));
  }
  return text;
}

}  // namespace

void StartMetrics() {
  {
    std::lock_guard<std::mutex> lock(g_metricsMutex);
    std::snprintf(g_machineLabel, sizeof g_machineLabel, "machine_id=\"%u\"", g_machineId);
    // The name and team as the packets carry them: their first 64 bytes (a character cut there becomes "?").
    const std::string identity = std::string("version=\"") + kClientVersion + "\",user=\"" +
                                 Escaped(v3ConfigGet(&g_config, "settings", "username"), 64) + "\",team=\"" +
                                 Escaped(v3ConfigGet(&g_config, "settings", "team"), 64) + "\"," + g_machineLabel;
    std::snprintf(g_identityLabels, sizeof g_identityLabels, "%s", identity.c_str());
    const char* copy = v3ConfigGet(&g_config, "metrics", "copy");
    std::snprintf(g_copyPath, sizeof g_copyPath, "%s", copy != nullptr ? copy : "");
    const char* local = v3ConfigGet(&g_config, "settings", "local");
    const s32 completed = local != nullptr ? TextToInt(local) : 0;
    g_unitsCompleted = completed > 0 ? static_cast<u64>(completed) : 0;
  }
  g_started = true;
  SetQueueSavedHook(WriteMetrics);
  WriteMetrics();
}

void WriteMetrics() {
  if (!g_started.load()) return;
  // The snapshot and the write happen under the queue lock (recursive, so a caller may hold it): a writer
  // with an older queue never replaces a newer file.
  QueueGuard guard;
  const Snapshot s = TakeSnapshot();
  std::lock_guard<std::mutex> lock(g_metricsMutex);
  const std::string text = Render(s);
  // A metrics file that cannot be written costs nothing but the dashboard's view; the client goes on.
  (void)v3FileReplace(kMetricsFileName, text.data(), text.size());
  if (g_copyPath[0] != '\0') (void)v3FileReplace(g_copyPath, text.data(), text.size(), V3_FILE_PUBLIC);
}

void NoteCoreStarted() {
  g_progress = 0.0;
  WriteMetrics();
}

void NoteProgress(u32 completed, u32 total) {
  const double ratio = total == 0 ? 0.0 : static_cast<double>(completed) / total;
  g_progress = ratio > 1.0 ? 1.0 : ratio;
  WriteMetrics();
}

void NoteCoreRun(u32 status) {
  {
    std::lock_guard<std::mutex> lock(g_metricsMutex);
    u32 i = 0;
    while (i < g_coreRunKinds && g_coreRuns[i].status != status) ++i;
    if (i == g_coreRunKinds && i < sizeof g_coreRuns / sizeof g_coreRuns[0]) g_coreRuns[g_coreRunKinds++] = {status, 0};
    if (i < g_coreRunKinds) ++g_coreRuns[i].count;
  }
  WriteMetrics();
}

void NoteResultAccepted(bool unitCompleted) {
  if (unitCompleted) ++g_unitsCompleted;
  ++g_resultsSent;
  v3Time now{};
  if (v3ClockNow(&now) == 0) g_lastAccepted = UnixSeconds(now);
  WriteMetrics();
}
