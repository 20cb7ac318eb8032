// Fetching units from and returning results to the work servers.
#include "net/work_exchange.h"

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "net/assignment_exchange.h"
#include "net/exchange_failures.h"
#include "net/http_exchange.h"
#include "net/packets.h"
#include "runtime/byte_order.h"
#include "runtime/file.h"
#include "runtime/memory.h"
#include "state/client_config.h"
#include "state/queue_ops.h"

namespace {

// One results packet at a time (sends are serialised by their caller): the header, then the results.
u8 g_resultsArea[kWorkHeaderSize + kMaxWorkPayload];

void DottedAddress(u32 address, char out[16]) {
  std::snprintf(out, 16, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                address & 0xFF);
}

u32 NativeWord(const u8* at) {
  u32 value;
  std::memcpy(&value, at, 4);
  return value;
}

void SetNativeWord(u8* at, u32 value) { std::memcpy(at, &value, 4); }

// The kept work-server connection, closed on every way out that did not hand it back already.
class KeptConnection {
 public:
  ~KeptConnection() { Close(); }
  void Close() {
    if (handle.connection != nullptr) {
      u8 none = 0;
      (void)doReadBytes(&handle, &none, 0, 0);
    }
  }
  ConnectionHandle handle{};
};

// Writes the payload whole: 0, -1 when the file cannot be opened, -2 when the write fails.
int WriteDataFile(const char* path, const u8* payload, u32 size) {
  RuntimeFile file{};
  if (v3FileOpen(&file, path, V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE, V3_LOCK_NONE) != 0) return -1;
  u64 written = 0;
  const int rc = size == 0 || (v3FileWrite(&file, &written, payload, size) == 0 && written == size) ? 0 : -2;
  v3FileClose(&file);
  return rc;
}

// Reads the results file into the area after the header: the byte count, or 0 when it yields nothing.
u32 ReadResults(const char* path) {
  RuntimeFile file{};
  if (v3FileOpen(&file, path, V3_FILE_READ, V3_LOCK_NONE) != 0) return 0;
  u64 total = 0;
  while (total < kMaxWorkPayload) {
    u64 got = 0;
    if (v3FileRead(g_resultsArea + kWorkHeaderSize + total, &got, &file, kMaxWorkPayload - total) != 0 || got == 0) {
      break;
    }
    total += got;
  }
  v3FileClose(&file);
  return static_cast<u32>(total);
}

}  // namespace

void ConvertWorkAssignment(u8 h[kWorkAssignmentSize]) {
  for (u64 at : {kWorkTypeAt, kWorkCoreTypeAt, kWorkVersionAt, kWorkPayloadSizeAt, kWorkDeadlineAt}) {
    u32 value = 0;
    v3LoadBE32(&value, h + at);
    SetNativeWord(h + at, value);
  }
  // The address travels little-endian: only a big-endian host reverses it. The port is taken as it came.
  const u32 address = u32{h[kWorkServerAddressAt]} | u32{h[kWorkServerAddressAt + 1]} << 8 |
                      u32{h[kWorkServerAddressAt + 2]} << 16 | u32{h[kWorkServerAddressAt + 3]} << 24;
  SetNativeWord(h + kWorkServerAddressAt, address);
}

int RecordWorkUnit(QueueEntry* entry, const u8 assignment[kAssignReplySize], const u8 header[kWorkAssignmentSize],
                   v3Time received) {
  // The location is text of at most 126 characters: copied up to its terminator, the rest zero.
  std::memset(entry->coreLocation, 0, kCoreLocationSize);
  const void* end = std::memchr(assignment + kAssignLocationAt, '\0', kAssignLocationSize);
  const u64 length = end != nullptr ? static_cast<u64>(static_cast<const u8*>(end) - (assignment + kAssignLocationAt))
                                    : kAssignLocationSize;
  std::memcpy(entry->coreLocation, assignment + kAssignLocationAt, length);
  entry->coreDownloadOption = assignment[kAssignOptionAt];
  entry->received = received;
  std::memcpy(entry->workAssignment, header, kWorkAssignmentSize);
  const s32 deadlineSeconds = static_cast<s32>(NativeWord(header + kWorkDeadlineAt));
  if (deadlineSeconds > 0) {
    entry->deadline = v3Time{received.seconds + deadlineSeconds, 0};
    entry->deadlineKnown = 1;
  } else {
    entry->deadlineKnown = 0;
  }
  if (EntryServerAddress(*entry) == 0) return -1;
  if (EntryServerPort(*entry) == 0) SetEntryWord(entry, kAssignServerPortAt, g_assignmentPort);
  SetEntryWord(entry, kAssignPacketTypeAt, STORED_UNIT);
  return 0;
}

int GetWork(QueueEntry* entry, const char* dataPath, WorkQueue* queue) {
  LOG_AT(3, "+ Attempting to get work packet\n");
  g_clientSettings.connectionOpen = true;
  u8 assignment[kAssignReplySize] = {};
  if (RequestAssignment(assignment, queue->performanceFraction) != 0) {
    LOG_AT(3, "+ Couldn't get work instructions.\n");
    return -1;
  }
  const u32 workServer = NativeWord(assignment + kAssignWorkServerAt);
  if (workServer == 0) {
    LOG_AT(3, "Work Unit has an invalid address.\n");
    return -1;
  }
  u8 header[kWorkHeaderSize] = {};
  SetNativeWord(header + kWorkCoreTypeAt, g_clientSettings.clientType == 2 ? 201 : 101);
  SetNativeWord(header + kWorkQueuedResultsAt, CountFinishedForServer(workServer));
  if (BuildWorkPacket(WORK_REQUEST, 0, workServer, header) != 0) return -1;
  char host[16];
  DottedAddress(workServer, host);
  KeptConnection kept;
  if (ServerExchange(host, g_assignmentPort, header, kWorkHeaderSize, header, kWorkHeaderSize, 1, &kept.handle) != 0) {
    LOG_AT(3, "+ Could not connect to Work Server\n");
    CountExchangeFailure(Exchange::Work);
    return -1;
  }
  ConvertWorkAssignment(header);
  if (NativeWord(header + kWorkTypeAt) != WORK_ASSIGNMENT) {
    LOG_AT(4, "- Error: Bad packet type from server, expected work assignment\n");
    CountExchangeFailure(Exchange::Work);
    return -1;
  }
  const u32 payloadSize = NativeWord(header + kWorkPayloadSizeAt);
  if (payloadSize > kMaxWorkPayload) {
    LOG_AT(4, "- Error: Work packet too large\n");
    CountExchangeFailure(Exchange::Work);
    return -1;
  }
  const s32 deadlineSeconds = static_cast<s32>(NativeWord(header + kWorkDeadlineAt));
  if (deadlineSeconds <= 0) LOG_AT(3, "- Deadline time not received.\n");
  LOG_AT(8, "- Receiving payload (expected size: %u)\n", payloadSize);
  // An empty payload needs no block: the connection is only closed.
  u8* payload = payloadSize > 0 ? static_cast<u8*>(v3MemAlloc(payloadSize, V3_MEM_NORMAL)) : nullptr;
  u8 none = 0;
  if ((payloadSize > 0 && payload == nullptr) ||
      doReadBytes(&kept.handle, payload != nullptr ? payload : &none, payloadSize, 0) != 0) {
    LOG_AT(3, "+ Could not get Work unit data from Work Server\n");
    v3MemFree(payload);
    CountExchangeFailure(Exchange::Work);
    return -1;
  }
  LOG_AT(4, "+ Received work.\n");
  if (g_clientSettings.askBeforeConnecting) {
    LOG_AT(2, "+ Connections closed: You may now disconnect\n");
    g_clientSettings.connectionOpen = false;
  } else {
    LOG_AT(3, "+ Closed connections\n");
  }

  v3Time received{};
  (void)v3ClockNow(&received);
  if (RecordWorkUnit(entry, assignment, header, received) != 0) {
    LOG_AT(4, "+ Work Unit has an invalid address\n");
    v3MemFree(payload);
    return -1;
  }
  const int written = WriteDataFile(dataPath, payload, payloadSize);
  v3MemFree(payload);
  return written;
}

int ReturnResults(QueueEntry* entry, const char* resultPath) {
  LogWrite("\n\n");
  LOG_AT(3, "+ Attempting to send results\n");
  LOG_AT(9, "- Reading file %s from core\n", resultPath);
  const u32 count = ReadResults(resultPath);
  if (count == 0) {
    LOG_AT(3, "- Error: Could not read results file %s from disk\n", resultPath);
    return -2;
  }
  LOG_AT(6, "  (Read %u bytes from disk)\n", count);
  const u32 workServer = EntryServerAddress(*entry);
  if (workServer == 0) {
    LOG_AT(3, "- Error: Results file corrupt\n");
    return -2;
  }
  g_clientSettings.connectionOpen = true;
  u8* header = g_resultsArea;
  std::memset(header, 0, kWorkHeaderSize);
  SetNativeWord(header + kWorkCoreTypeAt, EntryCoreNumber(*entry));
  if (BuildWorkPacket(RESULTS, count, workServer, header) != 0) return -1;
  char host[16];
  DottedAddress(workServer, host);
  if (ServerExchange(host, EntryServerPort(*entry) & 0xFFFF, g_resultsArea, kWorkHeaderSize + count, header,
                     kWorkHeaderSize, 0, nullptr) != 0) {
    LOG_AT(3, "+ Could not connect to Work Server (results)\n");
    CountExchangeFailure(Exchange::Results);
    return -1;
  }
  u32 answer = 0;
  v3LoadBE32(&answer, header);
  static const char* const kCorruption = "  (May be due to corruption during network transmission or a corrupted file.)\n";
  switch (answer) {
    case RESULTS_ACK:
      LOG_AT(3, "+ Results successfully sent\n");
      LOG_AT(3, "Thank you for your contribution to Quorvane.\n");
      if (entry->finished == 1) (void)CountCompletedUnit();
      (void)v3FileDelete("work/current.xyz");
      return 0;
    case UNIT_PROBLEM:
      LOG_AT(3, "- Server reports problem with unit.\n");
      return 22;
    case CORE_VERSION_REJECTED:
      LOG_AT(3, "- Core version used on unit below what server demands.\n");
      return 22;
    case CORE_TYPE_REJECTED:
      LOG_AT(3, "- Core type used on unit not what server demands.\n");
      return 22;
    case ALREADY_RECEIVED:
      LOG_AT(3, "- Server has already received unit.\n");
      return 22;
    case DEADLINE_PASSED:
      LOG_AT(3, "- Server reports deadline for unit has passed.\n");
      return 22;
    case SIGNATURE_MISMATCH:
      LOG_AT(3, "- Server reports digital signature does not match.\n");
      LOG_AT(3, "%s", kCorruption);
      CountExchangeFailure(Exchange::Results);
      return -1;
    case ZERO_DATA_SIZE:
      LOG_AT(3, "- Server reports packet it received specified a data size of 0.\n");
      LOG_AT(3, "%s", kCorruption);
      CountExchangeFailure(Exchange::Results);
      return -1;
    case INCOMPLETE_PAYLOAD:
      LOG_AT(3, "- Server reports packet it received an incomplete payload.\n");
      LOG_AT(3, "  (May be due to packet loss during network transmission or a corrupted file.)\n");
      CountExchangeFailure(Exchange::Results);
      return -1;
    default:
      LOG_AT(3, "- Unknown packet returned from server, expected ACK for results\n");
      CountExchangeFailure(Exchange::Results);
      return -1;
  }
}
