// Fuzz entry: what the client makes of the assignment servers' and work servers' replies: the user-ID
// reply, the assignment reply's address, location and news, and a work assignment converted and recorded.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/assignment_exchange.h"
#include "net/work_exchange.h"
#include "runtime/byte_order.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  u8 input[kUserIdReplySize + kAssignReplySize + kWorkAssignmentSize] = {};
  std::memcpy(input, data, size < sizeof input ? size : sizeof input);
  u64 userId = 0;
  v3LoadBE64(&userId, input);
  u8* assignment = input + kUserIdReplySize;
  u8* header = assignment + kAssignReplySize;

  char news[kAssignNewsSize + 1];
  AssignmentNews(assignment, news);
  if (std::strlen(news) > kAssignNewsSize) std::abort();

  ConvertWorkAssignment(header);
  QueueEntry entry{};
  const v3Time received{static_cast<s64>(userId % (u64{1} << 40)), 0};
  if (RecordWorkUnit(&entry, assignment, header, received) == 0) {
    if (EntryServerAddress(entry) == 0 || EntryServerPort(entry) == 0) std::abort();
    if (entry.deadlineKnown == 1 && entry.deadline.seconds <= received.seconds) std::abort();
  }
  // The stored location is the reply's text up to its terminator, zero after it, never more than its field.
  const u8* location = assignment + kAssignLocationAt;
  u64 length = 0;
  while (length < kCoreLocationSize && location[length] != 0) ++length;
  if (std::memcmp(entry.coreLocation, location, length) != 0) std::abort();
  for (u64 i = length; i < kCoreLocationSize; ++i) {
    if (entry.coreLocation[i] != 0) std::abort();
  }
  return 0;
}
