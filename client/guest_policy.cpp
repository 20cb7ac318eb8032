// The pause policy: its settings, the conditions, the hysteresis, and the signals to the core.
#include "client/guest_policy.h"

#include <signal.h>

#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "client/core_flags.h"
#include "client/metrics.h"
#include "client/status_page.h"
#include "client/unit_progress.h"
#include "runtime/shell.h"
#include "runtime/system_info.h"
#include "runtime/time.h"
#include "state/client_config.h"

GuestSettings g_guestSettings = {true, 0, -1, -1, 60};
const char* g_powerSupplyRoot = "/sys/class/power_supply";
u32 g_guestCheckMs = 10000;
int (*g_localHour)() = v3LocalHour;

namespace {

constexpr u64 kBusyWindowMs = 60000;

// A whole number from min to max written alone: true with *value.
bool WholeNumber(const char* text, long min, long max, long* value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < min || number > max) return false;
  *value = number;
  return true;
}

bool ParseHours(const char* text, s32* from, s32* to) {
  const char* dash = std::strchr(text, '-');
  if (dash == nullptr || dash - text > 2) return false;
  char first[3] = {};
  std::memcpy(first, text, static_cast<size_t>(dash - text));
  long a = 0;
  long b = 0;
  if (!WholeNumber(first, 0, 23, &a) || !WholeNumber(dash + 1, 0, 23, &b) || a == b) return false;
  *from = static_cast<s32>(a);
  *to = static_cast<s32>(b);
  return true;
}

}  // namespace

void LoadGuestSettings() {
  GuestSettings s = {true, 0, -1, -1, 60};
  if (const char* value = v3ConfigGet(&g_config, "guest", "on_battery")) {
    if (std::strcmp(value, "run") == 0) {
      s.pauseOnBattery = false;
    } else if (std::strcmp(value, "pause") != 0) {
      LOG_AT(3, "- Guest: on_battery=%.32s is neither pause nor run; the core pauses on battery\n", value);
    }
  }
  long number = 0;
  if (const char* value = v3ConfigGet(&g_config, "guest", "busy_percent")) {
    if (WholeNumber(value, 0, 100, &number)) {
      s.busyPercent = static_cast<u32>(number);
    } else {
      LOG_AT(3, "- Guest: busy_percent=%.32s is not 0 to 100; the core never pauses for load\n", value);
    }
  }
  if (const char* value = v3ConfigGet(&g_config, "guest", "hours")) {
    if (value[0] != '\0' && !ParseHours(value, &s.hoursFrom, &s.hoursTo)) {
      s.hoursFrom = s.hoursTo = -1;
      LOG_AT(3, "- Guest: hours=%.32s is not two different hours H-H; the core runs at any hour\n", value);
    }
  }
  if (const char* value = v3ConfigGet(&g_config, "guest", "resume_after")) {
    if (WholeNumber(value, 0, 86400, &number)) {
      s.resumeAfterSeconds = static_cast<u32>(number);
    } else {
      LOG_AT(3, "- Guest: resume_after=%.32s is not 0 to 86400 seconds; the core resumes after 60\n", value);
    }
  }
  g_guestSettings = s;
}

const char* GuestPauseReason(const GuestConditions& c) {
  if (c.onBattery) return "on battery";
  if (c.busy) return "busy";
  if (c.outsideHours) return "outside hours";
  return nullptr;
}

bool OutsideHours(const GuestSettings& s, int hour) {
  if (s.hoursFrom < 0) return false;
  const bool allowed = s.hoursFrom < s.hoursTo ? hour >= s.hoursFrom && hour < s.hoursTo
                                               : hour >= s.hoursFrom || hour < s.hoursTo;
  return !allowed;
}

GuestAction GuestPolicy::Decide(const char* reason, u64 nowMs, u64 resumeAfterMs) {
  if (reason != nullptr) {
    quiet_ = false;
    if (paused_) return GuestAction::None;
    paused_ = true;
    return GuestAction::Pause;
  }
  if (!paused_) return GuestAction::None;
  if (!quiet_) {
    quiet_ = true;
    quietSince_ = nowMs;
  }
  if (nowMs - quietSince_ < resumeAfterMs) return GuestAction::None;
  paused_ = false;
  quiet_ = false;
  return GuestAction::Resume;
}

bool GuestMonitor::Busy(u64 nowMs) {
  Sample now{nowMs, 0, v3ProcessTicks(g_coreProcess.load()), 0};
  if (v3ProcessorTimes(&now.busy, &now.total) != 0) return false;
  // The oldest sample of the last minute is the base; older ones drop out.
  u32 first = 0;
  while (first < count_ && nowMs - samples_[first].atMs > kBusyWindowMs) ++first;
  if (first > 0) {
    std::memmove(samples_, samples_ + first, sizeof(Sample) * (count_ - first));
    count_ -= first;
  }
  if (count_ == kSamples) {
    std::memmove(samples_, samples_ + 1, sizeof(Sample) * (kSamples - 1));
    --count_;
  }
  samples_[count_++] = now;
  if (count_ < 2) return false;
  const Sample& base = samples_[0];
  const u64 total = now.total - base.total;
  const u64 others = now.busy - base.busy - std::min(now.busy - base.busy, now.core - base.core);
  return total > 0 && others * 100 > u64{g_guestSettings.busyPercent} * total;
}

void GuestMonitor::Check(u64 nowMs) {
  const GuestSettings& s = g_guestSettings;
  GuestConditions conditions{};
  conditions.onBattery = s.pauseOnBattery && v3PowerOnBattery(g_powerSupplyRoot) == 1;
  conditions.busy = s.busyPercent > 0 && Busy(nowMs);
  conditions.outsideHours = OutsideHours(s, g_localHour());
  const char* reason = GuestPauseReason(conditions);
  const u64 core = g_coreProcess.load();
  const bool paused = policy_.paused();
  switch (policy_.Decide(reason, nowMs, u64{s.resumeAfterSeconds} * 1000)) {
    case GuestAction::Pause:
      if (core != 0 && v3ShellSignal(core, SIGSTOP) == 0) {
        g_corePauseReason = reason;
        LOG_AT(3, "+ Pausing core: %s\n", reason);
      }
      break;
    case GuestAction::Resume:
      Release();
      break;
    case GuestAction::None:
      break;
  }
  // unitinfo.txt tells the change; a paused core reports no progress, so its deadline is watched from here
  // (the interrupt continues it).
  if (g_corePauseReason.load() != nullptr || policy_.paused() != paused) (void)CheckUnitProgress();
  if (policy_.paused() != paused) {
    WriteStatusPage();
    WriteMetrics();
  }
}

void GuestMonitor::Release() {
  if (g_corePauseReason.load() == nullptr) return;
  (void)v3ShellSignal(g_coreProcess.load(), SIGCONT);
  g_corePauseReason = nullptr;
  LOG_AT(3, "+ Resuming core\n");
}
