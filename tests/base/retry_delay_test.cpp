// The shared retry timer's backoff.
#include <gtest/gtest.h>

#include "base/retry_delay.h"

TEST(RetryDelay, DoublesFromFiveSecondsToFortyEightMinutes) {
  ASSERT_EQ(RetryDelay(5000, 2880000, 0), 0u);
  const u32 expected[] = {5000, 10000, 20000, 40000, 80000, 160000, 320000, 640000, 1280000, 2560000, 2880000, 2880000};
  for (u32 i = 0; i < 12; ++i) {
    u32 wait = 0;
    EXPECT_EQ(RetryDelayAdvance(0, &wait), i + 1);
    EXPECT_EQ(wait, expected[i]) << i;
  }
}

TEST(RetryDelay, JitterAddsAFractionOfTheJitter) {
  ASSERT_EQ(RetryDelay(5000, 2880000, 15000), 0u);
  u32 wait = 0;
  RetryDelayAdvance(255, &wait);
  EXPECT_EQ(wait, 5000u + 14941u);  // 15000 * 255 / 256, truncated
  RetryDelayAdvance(128, &wait);
  EXPECT_EQ(wait, 10000u + 7500u);
}

TEST(RetryDelay, MinimumAboveMaximumIsAWaitNotAReset) {
  ASSERT_EQ(RetryDelay(1, 3, 0), 0u);
  u32 wait = 0;
  RetryDelayAdvance(0, &wait);  // 1 ms, now 2 ms
  EXPECT_EQ(RetryDelay(5000, 1000, 0), 2u);  // sleeps 2 ms with the previous state
  RetryDelayAdvance(0, &wait);
  EXPECT_EQ(wait, 3u);  // capped at the old maximum
}
