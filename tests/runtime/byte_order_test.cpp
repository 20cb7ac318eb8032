// Big-endian conversions and the byte buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/byte_buffer.h"
#include "runtime/byte_order.h"

TEST(ByteOrder, StoresAndLoadsBigEndian) {
  u8 bytes[8];
  const u32 v32 = 0x01020304;
  v3StoreBE32(bytes, &v32);
  EXPECT_EQ(std::memcmp(bytes, "\x01\x02\x03\x04", 4), 0);
  const u8 be64[8] = {0, 0, 0, 0, 0, 0, 1, 0};
  u64 v64 = 0;
  v3LoadBE64(&v64, be64);
  EXPECT_EQ(v64, 256u);
  const u16 v16 = 0xABCD;
  v3StoreBE16(bytes, &v16);
  EXPECT_EQ(bytes[0], 0xAB);
  u16 back16 = 0;
  v3LoadBE16(&back16, bytes);
  EXPECT_EQ(back16, 0xABCD);
  u8 inPlace[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  v3LoadBE64(reinterpret_cast<u64*>(inPlace), inPlace);
  v3LoadBE64(reinterpret_cast<u64*>(inPlace), inPlace);
  EXPECT_EQ(std::memcmp(inPlace, "\x01\x02\x03\x04\x05\x06\x07\x08", 8), 0);
  v3LoadBE32(nullptr, bytes);  // does nothing
  EXPECT_FALSE(v3HostIsBigEndian());
}

TEST(ByteBuffer, FifoGrowsInSteps) {
  ByteBuffer b{};
  ASSERT_EQ(v3BufferInit(&b, 10, V3_BUFFER_FIFO, 10, nullptr, 0), 0);
  for (u32 i = 0; i < 20; ++i) ASSERT_EQ(v3BufferWrite(&b, &i, 4), 0);
  EXPECT_EQ(v3BufferLength(&b), 80u);
  u32 first = 99;
  EXPECT_EQ(v3BufferRead(&first, 4, &b), 4u);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(v3BufferInit(&b, 10, V3_BUFFER_FIFO, 10, nullptr, 0), -2);
  EXPECT_EQ(v3BufferLength(&b), 76u);
  v3BufferFree(&b);

  ASSERT_EQ(v3BufferInit(&b, 1024, V3_BUFFER_FIFO, 1024, nullptr, 0), 0);
  char data[2100] = {};
  ASSERT_EQ(v3BufferWrite(&b, data, 1000), 0);
  ASSERT_EQ(v3BufferWrite(&b, data, 100), 0);
  EXPECT_EQ(b.capacity, 2048u);
  ASSERT_EQ(v3BufferWrite(&b, data, 2100), 0);
  EXPECT_EQ(b.capacity, 4096u);
  v3BufferFree(&b);
}

TEST(ByteBuffer, StackIsFixedWithoutAGrowthStep) {
  ByteBuffer b{};
  ASSERT_EQ(v3BufferInit(&b, 80, V3_BUFFER_STACK, 0, nullptr, 0), 0);
  for (u32 i = 0; i < 20; ++i) ASSERT_EQ(v3BufferWrite(&b, &i, 4), 0);
  const u32 extra = 99;
  EXPECT_EQ(v3BufferWrite(&b, &extra, 4), -2);
  EXPECT_EQ(v3BufferLength(&b), 80u);
  u32 last = 0;
  EXPECT_EQ(v3BufferRead(&last, 4, &b), 4u);
  EXPECT_EQ(last, 19u);
  v3BufferFree(&b);
  EXPECT_EQ(v3BufferInit(&b, 0, V3_BUFFER_FIFO, 0, nullptr, 0), -1);
  EXPECT_EQ(v3BufferInit(&b, 8, 3, 0, nullptr, 0), -3);
  EXPECT_EQ(v3BufferInit(nullptr, 8, 1, 0, nullptr, 0), -4);
}

TEST(ByteBuffer, InterleavedWritesAndReadsKeepTheOrder) {
  ByteBuffer b{};
  ASSERT_EQ(v3BufferInit(&b, 8, V3_BUFFER_FIFO, 8, "abcdef", 6), 0);
  char out[16] = {};
  EXPECT_EQ(v3BufferRead(out, 4, &b), 4u);
  ASSERT_EQ(v3BufferWrite(&b, "ghijkl", 6), 0);
  EXPECT_EQ(v3BufferRead(out, 8, &b), 8u);
  EXPECT_EQ(std::string(out, 8), "efghijkl");
  ASSERT_EQ(v3BufferWrite(&b, "x", 1), 0);
  EXPECT_EQ(v3BufferRead(out, 100, &b), 1u);
  EXPECT_EQ(v3BufferRead(out, 100, &b), 0u);
  v3BufferFree(&b);
}
