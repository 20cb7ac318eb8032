// The exchanges with the assignment servers: a new user ID for a new installation, and before every fetch
// the work server to ask, where cores are downloaded from, and a line of news. The primary server (port
// 8080) is asked first, the secondary (port 80) when it fails.
#pragma once

#include "net/packets.h"
#include "runtime/types.h"

// The port of the assignment server that answered last (8080 at start, never saved): work requests go to
// the assigned work server on this port, and it is the results port of a unit whose header names none.
extern u16 g_assignmentPort;

// One attempt: stores the new user ID in g_userId; 0, or -1 when neither server answered.
[[nodiscard]] int RequestUserId();
// Up to 11 attempts with the retry timer between them; writes the ID as hexadecimal text (at most
// capacity bytes, terminated) and returns 0, or -1 when every attempt failed.
[[nodiscard]] int GetUserId(char* text, u64 capacity);
// One assignment exchange carrying the performance fraction: fills reply (offset 0 converted to host
// order); 0, or -1 when neither server answered.
[[nodiscard]] int RequestAssignment(u8 reply[kAssignReplySize], float performanceFraction);
// The news text of an assignment reply (128 bytes, not always terminated) as a terminated string.
void AssignmentNews(const u8 reply[kAssignReplySize], char out[kAssignNewsSize + 1]);
