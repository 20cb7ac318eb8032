// Being a good guest on the volunteer's machine: the core is stopped (SIGSTOP) while the machine runs on
// battery, while other programs keep its processors busy, or outside the hours the volunteer allows, and
// continued (SIGCONT) once none of these has held for a while. The keys live in client.cfg's own [guest]
// section: on_battery=pause|run, busy_percent=0..100 (0: never pause for load), hours=H-H (local time;
// empty: always), resume_after=seconds.
#pragma once

#include "runtime/types.h"

struct GuestSettings {
  bool pauseOnBattery;  // default true
  u32 busyPercent;      // 0: never pause for load
  s32 hoursFrom;        // -1: every hour is allowed
  s32 hoursTo;          // the first hour no longer allowed ("22-7": 22:00 to 07:00)
  u32 resumeAfterSeconds;
};

extern GuestSettings g_guestSettings;
// Where the power supplies are listed (the test client may move it), and how often the conditions are
// checked while a core runs.
extern const char* g_powerSupplyRoot;
extern u32 g_guestCheckMs;
// The local hour now (0 to 23); the test client may fix it.
extern int (*g_localHour)();

// Reads [guest] from the loaded client.cfg; a bad value is logged and its default used.
void LoadGuestSettings();

// Why the core should be paused now, or null.
struct GuestConditions {
  bool onBattery;
  bool busy;
  bool outsideHours;
};
[[nodiscard]] const char* GuestPauseReason(const GuestConditions& conditions);
// Whether hour (0 to 23) lies outside the allowed hours.
[[nodiscard]] bool OutsideHours(const GuestSettings& settings, int hour);

enum class GuestAction { None, Pause, Resume };

// The pause decision with its hysteresis: pause as soon as a reason holds; resume only when none has held
// for resumeAfterSeconds. One per core run.
class GuestPolicy {
 public:
  GuestAction Decide(const char* reason, u64 nowMs, u64 resumeAfterMs);
  bool paused() const { return paused_; }

 private:
  bool paused_ = false;
  bool quiet_ = false;  // no reason since quietSince_
  u64 quietSince_ = 0;
};

// Watches one core run: checks the conditions when due and pauses or continues the core, logging each
// change. Runs on the core watcher's thread.
class GuestMonitor {
 public:
  void Check(u64 nowMs);
  // Continues a paused core (the run is ending or its deadline passed).
  void Release();

 private:
  bool Busy(u64 nowMs);
  GuestPolicy policy_;
  // Samples of the processors' busy time, the core's time and the total, the oldest within the last minute.
  struct Sample {
    u64 atMs;
    u64 busy;
    u64 core;
    u64 total;
  };
  static constexpr u32 kSamples = 16;
  Sample samples_[kSamples] = {};
  u32 count_ = 0;
};
