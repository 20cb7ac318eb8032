// Slot searches, the oldest unit, deadlines and the performance fraction.
#include "state/queue_ops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "base/log.h"
#include "state/client_config.h"
#include "state/work_queue.h"
#include "support/temp_dir.h"

namespace {

class QueueOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    LogSetConsoleEcho(1);
    LogResetLineStart();
    std::memset(static_cast<void*>(&queue), 0, sizeof queue);
    queue.version = kQueueVersion;
    SetUnitCleaner(nullptr);
  }
  v3Time Now() {
    v3Time t{};
    EXPECT_EQ(v3ClockNow(&t), 0);
    return t;
  }
  TempDir dir{true};
  WorkQueue queue;
};

}  // namespace

TEST_F(QueueOpsTest, NextSlotInStateWrapsAndExaminesTheGivenSlotLast) {
  queue.slots[2].state = SLOT_READY;
  queue.slots[7].state = SLOT_READY;
  u32 slot = 4;
  ASSERT_EQ(NextSlotInState(&queue, SLOT_READY, &slot), 0);
  EXPECT_EQ(slot, 7u);
  ASSERT_EQ(NextSlotInState(&queue, SLOT_READY, &slot), 0);
  EXPECT_EQ(slot, 2u);
  queue.slots[2].state = SLOT_EMPTY;
  slot = 7;
  ASSERT_EQ(NextSlotInState(&queue, SLOT_READY, &slot), 0);
  EXPECT_EQ(slot, 7u);
  slot = 12;  // beyond the queue: the search starts at slot 0
  ASSERT_EQ(NextSlotInState(&queue, SLOT_EMPTY, &slot), 0);
  EXPECT_EQ(slot, 0u);
  for (auto& e : queue.slots) e.state = SLOT_DONE;
  slot = 3;
  EXPECT_EQ(NextSlotInState(&queue, SLOT_READY, &slot), -1);
  EXPECT_EQ(slot, 3u);
}

TEST_F(QueueOpsTest, OldestSlotIsTheEarliestNonEmptyAndLowestOnATie) {
  const v3Time now = Now();
  for (u32 s = 0; s < kQueueSlots; ++s) {
    queue.slots[s].state = SLOT_DONE;
    queue.slots[s].received = v3Time{now.seconds - 100, 0};
  }
  queue.slots[1].state = SLOT_EMPTY;
  queue.slots[1].received = v3Time{0, 0};
  queue.slots[4].received = v3Time{now.seconds - 500, 0};
  queue.slots[6].received = v3Time{now.seconds - 500, 0};
  queue.slots[8].state = SLOT_FETCHING;  // interrupted fetch: zeroed, so the earliest of all
  queue.slots[8].received = v3Time{0, 0};
  u32 slot = 99;
  ASSERT_EQ(FindOldestSlot(&queue, &slot), 0);
  EXPECT_EQ(slot, 8u);
  queue.slots[8].received = v3Time{now.seconds - 100, 0};
  ASSERT_EQ(FindOldestSlot(&queue, &slot), 0);
  EXPECT_EQ(slot, 4u);
  // The clock was set back: every unit seems received in the future, and the earliest is still found.
  for (u32 s = 0; s < kQueueSlots; ++s) queue.slots[s].received = v3Time{now.seconds + 1000 - s, 0};
  ASSERT_EQ(FindOldestSlot(&queue, &slot), 0);
  EXPECT_EQ(slot, 9u);
  for (auto& e : queue.slots) e.state = SLOT_EMPTY;
  EXPECT_EQ(FindOldestSlot(&queue, &slot), -1);
}

TEST_F(QueueOpsTest, PerformanceFractionAveragesUpToFiveUnits) {
  QueueEntry& e = queue.slots[0];
  e.deadlineKnown = 1;
  SetEntryWord(&e, kAssignDeadlineSecondsAt, 1000);
  e.received = v3Time{10000, 0};
  e.completed = v3Time{10250, 123};
  queue.performanceFraction = 0.5f;
  queue.performanceSamples = 1;
  UpdatePerformanceFraction(&queue, 0);
  EXPECT_FLOAT_EQ(queue.performanceFraction, 0.625f);
  EXPECT_EQ(queue.performanceSamples, 2u);
  queue.performanceSamples = 4;
  UpdatePerformanceFraction(&queue, 0);
  EXPECT_EQ(queue.performanceSamples, 4u);  // stops at 4: each new unit weighs a fifth
  EXPECT_FLOAT_EQ(queue.performanceFraction, (0.75f + 4 * 0.625f) / 5);

  const float before = queue.performanceFraction;
  SetEntryWord(&e, kAssignDeadlineSecondsAt, 0);
  UpdatePerformanceFraction(&queue, 0);
  e.deadlineKnown = 0;
  SetEntryWord(&e, kAssignDeadlineSecondsAt, 1000);
  UpdatePerformanceFraction(&queue, 0);
  EXPECT_EQ(queue.performanceFraction, before);
}

TEST_F(QueueOpsTest, DeadlineSweepDropsReadyUnitsAndDoneOnesOnlyWhenHonoured) {
  const v3Time past{Now().seconds - 10, 0};
  queue.slots[1] = QueueEntry{};
  queue.slots[1].state = SLOT_DONE;
  queue.slots[1].deadlineKnown = 1;
  queue.slots[1].deadline = past;
  queue.slots[2] = queue.slots[1];
  queue.slots[2].state = SLOT_READY;
  queue.slots[3] = queue.slots[2];
  queue.slots[3].deadline = v3Time{Now().seconds + 1000, 0};
  g_workQueue = queue;

  g_clientSettings.honourDeadlines = false;
  testing::internal::CaptureStdout();
  CheckDeadlines(&g_workQueue);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Unit 1's deadline ("), std::string::npos);
  EXPECT_NE(out.find("Unit 2's deadline ("), std::string::npos);
  EXPECT_EQ(g_workQueue.slots[1].state, SLOT_DONE);   // kept for sending
  EXPECT_EQ(g_workQueue.slots[2].state, SLOT_EMPTY);  // dropped all the same
  EXPECT_EQ(g_workQueue.slots[3].state, SLOT_READY);

  g_clientSettings.honourDeadlines = true;
  testing::internal::CaptureStdout();
  CheckDeadlines(&g_workQueue);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(g_workQueue.slots[1].state, SLOT_EMPTY);
  EXPECT_FALSE(DeadlinePassed(v3Time{Now().seconds + 5, 0}));
  EXPECT_TRUE(DeadlinePassed(past));
}

TEST_F(QueueOpsTest, SweepAfterASaveLeavesTheRunningUnitAlone) {
  int cleaned = 0;
  static int* counter = nullptr;
  counter = &cleaned;
  SetUnitCleaner([](u32) {
    ++*counter;
    return 0;
  });
  g_workQueue = queue;
  g_workQueue.slots[6].state = SLOT_ACTIVE;
  g_workQueue.slots[6].deadlineKnown = 1;
  g_workQueue.slots[6].deadline = v3Time{Now().seconds - 10, 0};
  ASSERT_EQ(SaveQueue(&g_workQueue), 0);  // as the send thread saves while the core runs
  g_clientSettings.honourDeadlines = true;
  testing::internal::CaptureStdout();
  CheckDeadlines(&g_workQueue);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(cleaned, 0);
  EXPECT_EQ(g_workQueue.slots[6].state, SLOT_ACTIVE);
}
