// The work cycle's fetch and send flows: taking a ready slot, and the send refusals.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

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
  SetResultSender([](QueueEntry*, const char*) { return -1; });  // a lost transfer
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
  SetResultSender(nullptr);
  EXPECT_EQ(queue.slots[4].state, SLOT_DONE);
}

namespace {

WorkQueue* g_sendQueue = nullptr;
QueueEntry g_newUnit{};

// A send that takes its time: meanwhile the work cycle drops the sent unit as the oldest and fetches a
// new one into the same slot, which has by now finished too.
int SendWhileTheSlotIsReused(QueueEntry*, const char*) {
  g_sendQueue->slots[4] = g_newUnit;
  WriteText("work/wuresults_04.dat", "the new unit's result");
  return 0;
}

int AcceptedAtOnce(QueueEntry*, const char*) { return 0; }

}  // namespace

std::atomic<int> g_sendsInside{0};
std::atomic<bool> g_releaseSend{false};

TEST_F(FetchSendTest, ASecondSendWhileOneRunsFailsAtOnce) {
  g_settings.verbosity = 9;
  g_sendsInside = 0;
  g_releaseSend = false;
  // a send that holds on until the test lets it finish
  SetResultSender([](QueueEntry*, const char*) {
    ++g_sendsInside;
    while (!g_releaseSend.load()) std::this_thread::yield();
    return 0;
  });
  queue.slots[1].state = SLOT_DONE;
  queue.slots[2].state = SLOT_DONE;
  int first = -9;
  std::thread sender([&] { first = SendFinishedUnit(&queue, 1); });
  while (g_sendsInside.load() == 0) std::this_thread::yield();
  testing::internal::CaptureStdout();
  EXPECT_EQ(SendFinishedUnit(&queue, 2), -1);  // without waiting for the first
  const std::string out = testing::internal::GetCapturedStdout();
  g_releaseSend = true;
  sender.join();
  SetResultSender(nullptr);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(g_sendsInside.load(), 1);
  EXPECT_NE(out.find("- Already sending work\n"), std::string::npos) << out;
  EXPECT_EQ(queue.slots[1].state, SLOT_EMPTY);
  EXPECT_EQ(queue.slots[2].state, SLOT_DONE);  // kept for the next send
}

TEST_F(FetchSendTest, AcceptedSendEmptiesOnlyASlotThatStillHoldsTheSentUnit) {
  ASSERT_EQ(mkdir("work", 0755), 0);
  queue.slots[4].state = SLOT_DONE;
  queue.slots[4].received = v3Time{850000000, 0};
  g_newUnit = queue.slots[4];
  g_newUnit.received = v3Time{850009999, 0};
  g_sendQueue = &queue;

  SetResultSender(SendWhileTheSlotIsReused);
  EXPECT_EQ(SendFinishedUnit(&queue, 4), 0);
  EXPECT_EQ(queue.slots[4].state, SLOT_DONE);
  EXPECT_TRUE(SameUnit(queue.slots[4], g_newUnit));
  EXPECT_EQ(ReadText("work/wuresults_04.dat"), "the new unit's result");

  SetResultSender(AcceptedAtOnce);  // the new unit's own send, undisturbed
  EXPECT_EQ(SendFinishedUnit(&queue, 4), 0);
  SetResultSender(nullptr);
  EXPECT_EQ(queue.slots[4].state, SLOT_EMPTY);
  EXPECT_EQ(ReadText("work/wuresults_04.dat"), "");
  WorkQueue saved;
  ASSERT_EQ(LoadQueue(&saved), 0);
  EXPECT_EQ(saved.slots[4].state, SLOT_EMPTY);
}

namespace {

u32 g_stateDuringFetch = 99;

int FetchOneUnit(QueueEntry* entry, const char* dataPath, WorkQueue* queue) {
  g_stateDuringFetch = queue->slots[1].state;
  entry->received = v3Time{850000000, 0};
  SetEntryWord(entry, kAssignCoreNumberAt, 0x65);
  WriteText(dataPath, "unit data");
  return 0;
}

}  // namespace

TEST_F(FetchSendTest, FetchedUnitIsCopiedInWholeAndMadeCurrent) {
  ASSERT_EQ(mkdir("work", 0755), 0);
  SetWorkFetcher(FetchOneUnit);
  u32 slot = 0;
  ASSERT_EQ(GetWorkIntoSlot(&queue, &slot), 0);
  SetWorkFetcher(nullptr);
  EXPECT_EQ(g_stateDuringFetch, SLOT_FETCHING);  // claimed, while the header fills a private entry
  EXPECT_EQ(slot, 1u);
  EXPECT_EQ(queue.slots[1].state, SLOT_READY);
  EXPECT_EQ(EntryCoreNumber(queue.slots[1]), 0x65u);
  EXPECT_EQ(ReadText("work/wudata_01.dat"), "unit data");
  WorkQueue saved;
  ASSERT_EQ(LoadQueue(&saved), 0);
  EXPECT_EQ(saved.currentIndex, 1u);
  EXPECT_EQ(saved.slots[1].state, SLOT_READY);
}
