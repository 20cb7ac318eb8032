// The request records: byte order, offsets, text fields and the values each request carries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/settings.h"
#include "net/packets.h"
#include "runtime/byte_order.h"
#include "state/client_config.h"
#include "state/identity.h"
#include "state/work_queue.h"

namespace {

u32 Be32(const u8* p) { return u32{p[0]} << 24 | u32{p[1]} << 16 | u32{p[2]} << 8 | p[3]; }
u64 Be64(const u8* p) { return u64{Be32(p)} << 32 | Be32(p + 4); }
std::string Text(const u8* p) { return reinterpret_cast<const char*>(p); }

class PacketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessSettings();
    v3ConfigFree(&g_config);
    g_userId = 0x0123456789ABCDEFULL;
    g_machineId = 2;
    g_settings.benchmarkResult = 3553;
    g_clientSettings.clientType = 2;
    g_workQueue.performanceFraction = 0.625f;
  }
  void TearDown() override { v3ConfigFree(&g_config); }
  void Names(const std::string& user, const std::string& team) {
    ASSERT_EQ(v3ConfigSet(&g_config, "settings", "username", user.c_str()), 0);
    ASSERT_EQ(v3ConfigSet(&g_config, "settings", "team", team.c_str()), 0);
  }
};

}  // namespace

TEST_F(PacketTest, WorkRequestHeader) {
  Names("Ann", "42");
  u8 h[kWorkHeaderSize] = {};
  const u32 coreType = 201;
  const u32 queued = 2;
  std::memcpy(h + 4, &coreType, 4);
  std::memcpy(h + 324, &queued, 4);
  ASSERT_EQ(BuildWorkPacket(WORK_REQUEST, 0, 0x0A010203, h), 0);
  EXPECT_EQ(Be32(h), 100u);
  EXPECT_EQ(Be32(h + 4), 201u);
  EXPECT_EQ(Be32(h + 8), 325u);
  EXPECT_EQ(Be32(h + 12), 0u);
  EXPECT_EQ(Be32(h + 84), 2u);
  EXPECT_EQ(std::memcmp(h + 88, "\x0A\x01\x02\x03", 4), 0);
  EXPECT_EQ(Text(h + 160), "Ann");
  EXPECT_EQ(Text(h + 224), "42");
  EXPECT_EQ(Be64(h + 288), 0x0123456789ABCDF1ULL);
  EXPECT_EQ(Be64(h + 296), 3553u);
  EXPECT_EQ(Be32(h + 304), 0u);
  EXPECT_EQ(Be32(h + 324), 2u);
  EXPECT_EQ(BuildWorkPacket(WORK_ASSIGNMENT, 0, 0, h), -1);
}

TEST_F(PacketTest, ResultsHeaderAndTextLimits) {
  Names(std::string(64, 'u'), std::string(64, 't'));
  u8 h[kWorkHeaderSize] = {};
  ASSERT_EQ(BuildWorkPacket(RESULTS, 12345, 0x0A010203, h), 0);
  EXPECT_EQ(Be32(h), 300u);
  EXPECT_EQ(Be32(h + 12), 12345u);
  EXPECT_EQ(Be32(h + 304), 1u);
  EXPECT_EQ(Be32(h + 308), 4u);
  EXPECT_EQ(Be64(h + 296), 0u);
  EXPECT_EQ(Be32(h + 324), 0u);
  EXPECT_EQ(Text(h + 160), "");   // 64 characters do not fit
  EXPECT_EQ(Text(h + 224), "0");  // the team falls back to "0"
  Names(std::string(63, 'u'), "7");
  ASSERT_EQ(BuildWorkPacket(RESULTS, 1, 0, h), 0);
  EXPECT_EQ(Text(h + 160), std::string(63, 'u'));
  EXPECT_EQ(h[160 + 63], 0);
}

TEST_F(PacketTest, AssignRequests) {
  Names("Ann", std::string(70, 't'));
  u8 r[kAssignRequestSize];
  g_workQueue.performanceFraction = 0.25f;  // the fraction passed in counts, not the queue's
  ASSERT_EQ(BuildAssignRequest(ASSIGN_REQUEST, 0.625f, r), 0);
  EXPECT_EQ(Be32(r), 10u);
  EXPECT_EQ(Be64(r + 8), 3553u);
  EXPECT_EQ(Be64(r + 16), 0x0123456789ABCDEFULL);
  EXPECT_EQ(Text(r + 24), "3.25");
  EXPECT_EQ(Be32(r + 32), 1u);
  EXPECT_EQ(Be32(r + 40), 4u);
  EXPECT_EQ(Text(r + 48), "Ann");
  EXPECT_EQ(Text(r + 112), "");  // too long: empty
  EXPECT_GT(Be64(r + 176), 0u);  // the machine's memory
  EXPECT_EQ(r[184] << 8 | r[185], 2);
  EXPECT_EQ(r[186] << 8 | r[187], 6);
  EXPECT_EQ(Be32(r + 188), 0x3F200000u);  // 0.625f
  for (u64 i = 192; i < kAssignRequestSize; ++i) ASSERT_EQ(r[i], 0) << i;

  ASSERT_EQ(BuildAssignRequest(USER_ID_REQUEST, 0.625f, r), 0);
  EXPECT_EQ(Be32(r), 11u);
  for (u64 at : {8, 16, 176, 188}) EXPECT_EQ(Be64(r + at) >> (at == 188 ? 32 : 0), 0u) << at;
  EXPECT_EQ(r[184] | r[185] | r[186] | r[187], 0);
  EXPECT_EQ(Text(r + 24), "3.25");
  EXPECT_EQ(BuildAssignRequest(WORK_REQUEST, 0.625f, r), -1);
}

TEST_F(PacketTest, EffectiveClientType) {
  EXPECT_EQ(EffectiveClientType(), 2);
  g_settings.internal = 1;
  EXPECT_EQ(EffectiveClientType(), 5);
  g_settings.advancedMethods = 1;
  EXPECT_EQ(EffectiveClientType(), 3);
  g_settings.betaTeam = 1;
  EXPECT_EQ(EffectiveClientType(), 4);
}
