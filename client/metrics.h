// The metrics file "qvn3.prom": the client's state in the Prometheus text format for a node exporter's
// textfile collector, replaced whole at start-up, at every queue save and at every progress step. A copy
// readable by all may be written elsewhere too ("[metrics] copy=<path>"), for a collector that cannot
// reach the working directory (a service's private state directory).
#pragma once

#include "runtime/types.h"

inline constexpr const char* kMetricsFileName = "qvn3.prom";

// Takes the identity and the completed count from the loaded settings, hooks the queue saves and writes
// the first file. Called once by start-up, after the queue is loaded.
void StartMetrics();
// Rewrites the file(s) from the current state; the callers are the events below and the queue hook.
void WriteMetrics();

// Events the file counts. Thread-safe.
void NoteCoreStarted();                  // a run begins: the progress starts again at 0
void NoteProgress(u32 completed, u32 total);
void NoteCoreRun(u32 status);
void NoteResultAccepted(bool unitCompleted);
