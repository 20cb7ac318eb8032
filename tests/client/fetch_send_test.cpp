// The work cycle's fetch and send flows: taking a ready slot, and the send refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/log.h"
#include "client/result_send.h"
#include "client/work_fetch.h"
#include "state/queue_ops.h"
#include "state/work_queue.h"
#include "support/temp_dir.h"

namespace {

class FetchSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    LogSetConsoleEcho(1);
    LogResetLineStart();
    std::memset(static_cast<void*>(&queue), 0, sizeof queue);
    queue.version = kQueueVersion;
    SetUnitCleaner(nullptr);
  }
  TempDir dir{true};
  WorkQueue queue;
};

}  // namespace

TEST_F(FetchSendTest, ReadySlotIsTakenWithoutFetchingAndMadeCurrent) {
  queue.slots[5].state = SLOT_READY;
  u32 slot = 2;
  ASSERT_EQ(GetWorkIntoSlot(&queue, &slot), 0);
  EXPECT_EQ(slot, 5u);
  EXPECT_EQ(queue.currentIndex, 5u);
  WorkQueue saved;
  ASSERT_EQ(LoadQueue(&saved), 0);
  EXPECT_EQ(saved.currentIndex, 5u);
}

TEST_F(FetchSendTest, SendRefusesBadSlotsAndKeepsUnsentResults) {
  g_settings.verbosity = 6;
  queue.slots[4].state = SLOT_DONE;
  queue.slots[4].completed = v3Time{850003198, 0};
  testing::internal::CaptureStdout();
  EXPECT_EQ(SendFinishedUnit(&queue, 0), -1);
  EXPECT_EQ(SendFinishedUnit(&queue, 12), -1);
  EXPECT_EQ(SendFinishedUnit(&queue, 4), -1);
  EXPECT_EQ(SendAllFinished(&queue), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("- Warning: Asked to send unfinished unit to server\n"), std::string::npos);
  EXPECT_NE(out.find("- Error: Bad queue index while trying to send finished unit\n"), std::string::npos);
  EXPECT_NE(out.find("- Error: Could not transmit unit 04 (completed December 7). Keeping unit in queue.\n"),
            std::string::npos);
  EXPECT_NE(out.find("+ Sent 0 completed units to the server\n"), std::string::npos);
  EXPECT_EQ(queue.slots[4].state, SLOT_DONE);
}
