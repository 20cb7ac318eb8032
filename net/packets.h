// The binary records exchanged with the servers, built at explicit big-endian offsets in zero-filled
// buffers. Text fields are copied only when they fit with their terminator.
#pragma once

#include "runtime/types.h"

inline constexpr u64 kAssignRequestSize = 432;
inline constexpr u64 kAssignReplySize = 260;
inline constexpr u64 kUserIdReplySize = 8;
inline constexpr u64 kWorkHeaderSize = 512;
inline constexpr u32 kMaxWorkPayload = 2097152;

// Offsets of the assignment reply.
inline constexpr u64 kAssignWorkServerAt = 0;
inline constexpr u64 kAssignLocationAt = 4;
inline constexpr u64 kAssignLocationSize = 127;
inline constexpr u64 kAssignOptionAt = 131;
inline constexpr u64 kAssignNewsAt = 132;
inline constexpr u64 kAssignNewsSize = 128;
static_assert(kAssignNewsAt + kAssignNewsSize == kAssignReplySize);
static_assert(kAssignLocationAt + kAssignLocationSize == kAssignOptionAt);

enum PacketType : u32 {
  ASSIGN_REQUEST = 10,
  USER_ID_REQUEST = 11,
  WORK_REQUEST = 100,
  WORK_ASSIGNMENT = 200,
  RESULTS = 300,
  RESULTS_ACK = 400,
  UNIT_PROBLEM = 404,
  CORE_VERSION_REJECTED = 420,
  CORE_TYPE_REJECTED = 430,
  ALREADY_RECEIVED = 434,
  DEADLINE_PASSED = 440,
  SIGNATURE_MISMATCH = 444,
  ZERO_DATA_SIZE = 450,
  INCOMPLETE_PAYLOAD = 454,
  STORED_UNIT = 500,
};

// Offsets of the work packet header.
inline constexpr u64 kWorkTypeAt = 0;
inline constexpr u64 kWorkCoreTypeAt = 4;
inline constexpr u64 kWorkVersionAt = 8;
inline constexpr u64 kWorkPayloadSizeAt = 12;
inline constexpr u64 kWorkMachineIdAt = 84;
inline constexpr u64 kWorkServerAddressAt = 88;
inline constexpr u64 kWorkServerPortAt = 92;
inline constexpr u64 kWorkCoreNameAt = 96;
inline constexpr u64 kWorkUserNameAt = 160;
inline constexpr u64 kWorkTeamAt = 224;
inline constexpr u64 kWorkIdentityAt = 288;
inline constexpr u64 kWorkBenchmarkAt = 296;
inline constexpr u64 kWorkConstant1At = 304;
inline constexpr u64 kWorkConstant4At = 308;
inline constexpr u64 kWorkDeadlineAt = 320;
inline constexpr u64 kWorkQueuedResultsAt = 324;
static_assert(kWorkQueuedResultsAt + 4 + 184 == kWorkHeaderSize);

// Fills a WORK_REQUEST (100) or RESULTS (300) header in place. The caller zero-fills it and first sets
// offset 4 (core type) and, for 100, offset 324 (queued results) in native order. 0, or -1 for other types.
[[nodiscard]] int BuildWorkPacket(u32 type, u32 payloadSize, u32 serverAddress, u8 header[kWorkHeaderSize]);
// Fills a 432-byte ASSIGN_REQUEST (10), carrying the given performance fraction, or USER_ID_REQUEST (11).
// 0, or -1 for other types.
[[nodiscard]] int BuildAssignRequest(u32 type, float performanceFraction, u8 request[kAssignRequestSize]);
// -betateam 4, -advmethods 3, -internal 5, else the configured client type.
[[nodiscard]] u16 EffectiveClientType();
