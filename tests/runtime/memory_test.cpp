// Memory blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/memory.h"

TEST(MemAlloc, RoundsUpAndZeroFills) {
  auto* block = static_cast<unsigned char*>(v3MemAlloc(1, V3_MEM_NORMAL));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0) << i;  // all 16 bytes belong to the block
  v3MemFree(block);
  EXPECT_EQ(v3MemAlloc(0, V3_MEM_NORMAL), nullptr);
  EXPECT_EQ(v3MemAlloc(16, V3_MEM_SECURE), nullptr);
  EXPECT_EQ(v3MemAlloc(UINT64_MAX, V3_MEM_NORMAL), nullptr);
}

TEST(MemRealloc, ResizesFreesAndRefusesSecureMemory) {
  auto* block = static_cast<char*>(v3MemAlloc(8, V3_MEM_NORMAL));
  std::memcpy(block, "abcdefg", 8);
  block = static_cast<char*>(v3MemRealloc(block, 4000, V3_MEM_NORMAL));
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block, "abcdefg");
  testing::internal::CaptureStdout();
  EXPECT_EQ(v3MemRealloc(block, 10, V3_MEM_SECURE), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Secure memory requested, but not available.\n");
  EXPECT_EQ(v3MemRealloc(block, 0, V3_MEM_NORMAL), nullptr);  // frees
}

TEST(MemOps, NullAndOverlap) {
  char text[] = "abcdef";
  EXPECT_EQ(v3MemCopy(text + 1, text, 5), 0);
  EXPECT_STREQ(text, "aabcde");
  EXPECT_EQ(v3MemCopy(text, text, 6), 0);
  EXPECT_EQ(v3MemCopy(nullptr, text, 1), -1);
  EXPECT_EQ(v3MemSet(nullptr, 1, 0), -1);
  EXPECT_EQ(v3MemSet(text, 2, 'z'), 0);
  EXPECT_STREQ(text, "zzbcde");
  EXPECT_EQ(v3MemOffset(nullptr, 1), nullptr);
  EXPECT_EQ(v3MemOffset(text, 2), text + 2);
  EXPECT_EQ(v3MemOffset(text, UINT64_MAX), nullptr);
}
