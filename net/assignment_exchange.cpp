// User IDs and work assignments from the primary or secondary assignment server.
#include "net/assignment_exchange.h"

#include <cstring>

#include "base/log.h"
#include "base/retry_delay.h"
#include "build_config.h"
#include "net/exchange_failures.h"
#include "net/http_exchange.h"
#include "runtime/byte_order.h"
#include "runtime/format.h"
#include "runtime/strings.h"
#include "state/client_config.h"
#include "state/identity.h"

u16 g_assignmentPort = 8080;

namespace {

constexpr u16 kPrimaryPort = 8080;
constexpr u16 kSecondaryPort = 80;
constexpr u32 kUserIdRetries = 10;

// The exchange with the primary server, then the secondary; the port of the one that answered becomes the
// assignment port. firstFailure and secondFailure are logged as each fails; 0 or -1.
int AskEitherServer(const u8* request, void* reply, u64 replyLength, const char* firstFailure,
                    const char* secondFailure) {
  if (ServerExchange(QVN_PRIMARY_ASSIGN_HOST, kPrimaryPort, request, kAssignRequestSize, reply, replyLength, 0,
                     nullptr) == 0) {
    g_assignmentPort = kPrimaryPort;
    return 0;
  }
  LOG_AT(3, "%s", firstFailure);
  if (ServerExchange(QVN_SECONDARY_ASSIGN_HOST, kSecondaryPort, request, kAssignRequestSize, reply, replyLength, 0,
                     nullptr) == 0) {
    g_assignmentPort = kSecondaryPort;
    return 0;
  }
  LOG_AT(3, "%s", secondFailure);
  return -1;
}

}  // namespace

int RequestUserId() {
  LOG_AT(6, "- Getting ID from AS: \n");
  u8 request[kAssignRequestSize];
  if (BuildAssignRequest(USER_ID_REQUEST, 0.0f, request) != 0) return -1;
  g_clientSettings.connectionOpen = true;
  u8 reply[kUserIdReplySize] = {};
  if (AskEitherServer(request, reply, sizeof reply, "+ Could not connect to Primary Assignment Server for ID\n",
                      "+ Could not connect to Secondary Assignment Server for ID\n") != 0) {
    CountExchangeFailure(Exchange::UserId);
    return -1;
  }
  v3LoadBE64(&g_userId, reply);
  return 0;
}

int GetUserId(char* text, u64 capacity) {
  if (text == nullptr || capacity == 0) return -1;
  RetryDelay(5000, 2880000, 15000);
  for (u32 retries = 0; RequestUserId() != 0; ++retries) {
    if (retries >= kUserIdRetries) return -1;
    LOG_AT(3, "\n+ Could not get ID from server. Retrying...\n");
    (void)RetryDelay(0, 0, 0);
  }
  // Written within the caller's buffer, whatever its size.
  (void)v3PrintBuffer(text, capacity, "%Y", g_userId);
  return 0;
}

void AssignmentNews(const u8 reply[kAssignReplySize], char out[kAssignNewsSize + 1]) {
  std::memcpy(out, reply + kAssignNewsAt, kAssignNewsSize);
  out[kAssignNewsSize] = '\0';
}

int RequestAssignment(u8 reply[kAssignReplySize], float performanceFraction) {
  u8 request[kAssignRequestSize];
  if (BuildAssignRequest(ASSIGN_REQUEST, performanceFraction, request) != 0) return -1;
  LOG_AT(3, "- Connecting to assignment server\n");
  g_clientSettings.connectionOpen = true;
  if (AskEitherServer(request, reply, kAssignReplySize, "+ Could not connect to Assignment Server\n",
                      "+ Could not connect to Assignment Server 2\n") != 0) {
    CountExchangeFailure(Exchange::Assignment);
    return -1;
  }
  u32 address = 0;
  v3LoadBE32(&address, reply);
  std::memcpy(reply, &address, 4);
  LOG_AT(3, "- Successful: assigned to (%u.%u.%u.%u).\n", address >> 24, (address >> 16) & 0xFF,
         (address >> 8) & 0xFF, address & 0xFF);
  char news[kAssignNewsSize + 1];
  AssignmentNews(reply, news);
  v3MaskControls(news, std::strlen(news));
  LOG_AT(3, "+ News From Quorvane: %s\n", news);
  return 0;
}
