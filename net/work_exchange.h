// The exchanges with a work server: fetching a unit into a queue entry, and returning a unit's results.
// Both log every failure here and set the connection-open flag when they start talking to a server.
#pragma once

#include "net/packets.h"
#include "state/queue_layout.h"

// Fetches one unit: the assignment exchange names the work server, the work server answers with a header
// and the unit's data. The header goes into entry (converted to host order, location, option, received
// time and deadline filled in), the data to dataPath. 0; -1 when an exchange fails or the data file cannot
// be opened; -2 when writing it fails.
[[nodiscard]] int GetWork(QueueEntry* entry, const char* dataPath, WorkQueue* queue);
// Posts the results file of a unit to the work server that issued it: 0 accepted; 22 refused for good
// (drop the unit); -1 a failed transfer or an answer that calls for another attempt (keep the unit); -2
// the results file is unreadable or the entry names no work server (drop the unit).
// REQUIRES: no other results send runs at the same time (they share one process-wide area).
[[nodiscard]] int ReturnResults(QueueEntry* entry, const char* resultPath);

// Records a received unit in entry: the assignment's core location and download option, the received time,
// the converted header, the deadline; an empty port becomes the assignment port and the type 500. 0, or -1
// when the header names no work server (the entry is then only partly written).
[[nodiscard]] int RecordWorkUnit(QueueEntry* entry, const u8 assignment[kAssignReplySize],
                                 const u8 header[kWorkAssignmentSize], v3Time received);
// The reply to a work request as the client keeps it, converted in place: offsets 0, 4, 8, 12 and 320
// from big-endian to the host's order, the address at 88 from little-endian, the port at 92 as it came.
void ConvertWorkAssignment(u8 header[kWorkAssignmentSize]);
