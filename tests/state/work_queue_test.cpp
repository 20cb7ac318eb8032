// Queue saves: whole images only, ACTIVE never stored, a kill at any moment leaves a loadable file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "base/log.h"
#include "state/byte_order.h"
#include "state/work_queue.h"
#include "support/temp_dir.h"

namespace {

class QueueFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    g_settings.verbosity = 1;
    std::memset(static_cast<void*>(&queue), 0, sizeof queue);
    queue.version = kQueueVersion;
  }
  TempDir dir{true};
  WorkQueue queue;
};

}  // namespace

TEST_F(QueueFileTest, ImageHasTheExactLayout) {
  queue.currentIndex = 7;
  queue.slots[3].state = SLOT_DONE;
  queue.slots[3].received = v3Time{-2, 0x1122334455667788ULL};
  queue.slots[3].coreDownloadOption = 0xAB;
  std::strcpy(queue.slots[3].coreLocation, "host/path");
  SetEntryWord(&queue.slots[3], kAssignCoreNumberAt, 0x65);
  queue.slots[3].deadline = v3Time{1000, 0};
  queue.performanceFraction = 1.5f;
  queue.performanceSamples = 4;
  u8 image[kQueueImageSize];
  EncodeQueue(queue, image);
  const u8* e = image + 8 + 3 * 700;
  EXPECT_EQ(LoadLE32(image + 4), 7u);
  EXPECT_EQ(LoadLE32(e), 2u);
  EXPECT_EQ(LoadLE64(e + 4), static_cast<u64>(-2));
  EXPECT_EQ(LoadLE64(e + 12), 0x1122334455667788ULL);
  EXPECT_STREQ(reinterpret_cast<const char*>(e + 44), "host/path");
  EXPECT_EQ(e[171], 0xAB);
  EXPECT_EQ(LoadLE32(e + 176), 0x65u);
  EXPECT_EQ(LoadLE64(e + 684), 1000u);
  EXPECT_EQ(LoadLE32(image + 7008), 0x3FC00000u);  // 1.5f
  EXPECT_EQ(LoadLE32(image + 7012), 4u);
  WorkQueue back;
  DecodeQueue(image, &back);
  u8 again[kQueueImageSize];
  EncodeQueue(back, again);
  EXPECT_EQ(std::memcmp(image, again, kQueueImageSize), 0);
}

TEST_F(QueueFileTest, SaveStoresActiveAsReadyAndKeepsItActiveInMemory) {
  queue.slots[3].state = SLOT_ACTIVE;
  ASSERT_EQ(SaveQueue(&queue), 0);
  EXPECT_EQ(queue.slots[3].state, SLOT_ACTIVE);  // the send thread's saves must not touch the running unit
  const std::string file = ReadText("queue.dat");
  ASSERT_EQ(file.size(), kQueueImageSize);
  EXPECT_EQ(LoadLE32(reinterpret_cast<const u8*>(file.data()) + 8 + 3 * 700), 1u);
  EXPECT_EQ(ReadText("queue.dat.new"), "");  // no temporary left behind
}

TEST_F(QueueFileTest, UnreadableOrTinyFilesGiveNoQueue) {
  EXPECT_EQ(LoadQueue(&queue), -1);
  WriteText("queue.dat", "abc");
  EXPECT_EQ(LoadQueue(&queue), -1);
}

TEST_F(QueueFileTest, KillDuringSavesAlwaysLeavesAWholeQueue) {
  ASSERT_EQ(SaveQueue(&queue), 0);
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Every save writes one counter into every slot, so a torn image would show mixed values.
      for (u32 counter = 1;; ++counter) {
        for (QueueEntry& e : queue.slots) {
          e.state = SLOT_READY;
          SetEntryWord(&e, kAssignCoreNumberAt, counter);
        }
        if (SaveQueue(&queue) != 0) _exit(3);
      }
    }
    usleep(2000 + round * 1500);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    WorkQueue loaded;
    ASSERT_EQ(LoadQueue(&loaded), 0) << "round " << round;
    const u32 first = EntryCoreNumber(loaded.slots[0]);
    for (const QueueEntry& e : loaded.slots) ASSERT_EQ(EntryCoreNumber(e), first) << "round " << round;
    EXPECT_EQ(ReadText("queue.dat").size(), kQueueImageSize);
  }
}

TEST_F(QueueFileTest, CreateQueueSavesAnEmptyQueue) {
  CreateQueue(&queue);
  std::string expected(kQueueImageSize, '\0');
  expected[0] = static_cast<char>(325 & 0xFF);
  expected[1] = static_cast<char>(325 >> 8);
  EXPECT_EQ(ReadText("queue.dat"), expected);
}
