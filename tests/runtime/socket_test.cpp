// Sockets against the scripted peer: whole-call time limits, short and closed peers, pieced sends.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "runtime/socket.h"
#include "support/offline_resolver.h"
#include "support/replay_peer.h"

namespace {

v3Socket Connect(const ReplayPeer& peer) {
  v3Socket s{};
  EXPECT_EQ(v3NetConnect(&s, 0x7F000001, static_cast<u16>(peer.port()), 0, 0, V3_SOCKET_STREAM), 0);
  return s;
}

std::vector<u64> g_pieces;
long RecordingSend(int fd, const void* data, u64 length) {
  g_pieces.push_back(length);
  return ::send(fd, data, length, MSG_NOSIGNAL);
}

}  // namespace

TEST(Socket, ShortPeerThatClosesAndShortPeerThatGoesSilent) {
  const std::string reply(300, 'r');
  {
    ReplayPeer peer(reply);
    v3Socket s = Connect(peer);
    EXPECT_EQ(v3NetConnect(&s, 0x7F000001, static_cast<u16>(peer.port()), 0, 0, V3_SOCKET_STREAM), -6);
    u64 sent = 0;
    ASSERT_EQ(v3NetSend(&s, &sent, "GET / HTTP/1.1\r\n\r\n", 18), 0);
    char buffer[512];
    u64 got = 0;
    EXPECT_EQ(v3NetRecv(buffer, &got, &s, sizeof buffer, 10000), -7);
    EXPECT_EQ(got, 300u);
    EXPECT_EQ(s.state, 0u);
  }
  {
    ReplayPeer peer(reply, R"("mode": "silent", "lifetime_s": 15)");
    v3Socket s = Connect(peer);
    u64 sent = 0;
    ASSERT_EQ(v3NetSend(&s, &sent, "GET / HTTP/1.1\r\n\r\n", 18), 0);
    char buffer[512];
    u64 got = 0;
    // a limit a loaded machine's peer answers well within: the 300 bytes come, the rest never does
    EXPECT_EQ(v3NetRecv(buffer, &got, &s, sizeof buffer, 3000), -8);
    EXPECT_EQ(got, 300u);
    EXPECT_EQ(s.state, 1u);
    EXPECT_EQ(v3NetRecv(buffer, &got, &s, sizeof buffer, 0), -8);  // a zero limit polls once
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(v3NetClose(&s), 0);
    EXPECT_EQ(v3NetClose(&s), 0);
  }
}

TEST(Socket, SendsInPiecesOfAtMost49152Bytes) {
  ReplayPeer peer("HTTP/1.1 200 OK\r\n\r\n");
  v3Socket s = Connect(peer);
  std::string body = "POST / HTTP/1.1\r\nContent-Length: 99966\r\n\r\n";
  body.resize(100000, 'b');
  g_pieces.clear();
  v3NetSetSendCall(RecordingSend);
  u64 sent = 0;
  const int rc = v3NetSend(&s, &sent, body.data(), body.size());
  v3NetSetSendCall(nullptr);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(sent, 100000u);
  ASSERT_GE(g_pieces.size(), 3u);
  EXPECT_EQ(g_pieces[0], 49152u);
  for (u64 p : g_pieces) EXPECT_LE(p, 49152u);
  v3NetClose(&s);
  EXPECT_EQ(peer.Request(), body);
}

TEST(Socket, ArgumentsAndLookup) {
  v3Socket s{};
  u64 n = 0;
  char b[4];
  EXPECT_EQ(v3NetSend(&s, &n, "x", 1), -7);
  EXPECT_EQ(v3NetSend(&s, &n, "x", 0), -10);
  EXPECT_EQ(v3NetRecv(b, &n, &s, 4, 10), -7);
  EXPECT_EQ(v3NetConnect(nullptr, 0, 0, 0, 0, V3_SOCKET_STREAM), -10);
  EXPECT_EQ(v3NetClose(nullptr), -10);
  u32 addresses[4] = {};
  EXPECT_EQ(v3NetLookup(addresses, 1, "127.0.0.1"), 1u);
  EXPECT_EQ(addresses[0], 0x7F000001u);
  EXPECT_EQ(v3NetLookup(addresses, 0, "127.0.0.1"), 0u);
  {
    const OfflineResolver offline;
    EXPECT_EQ(v3NetLookup(addresses, 4, "no-such-host.invalid"), 0u);
  }
  // nothing listens on port 1 of the loopback
  EXPECT_EQ(v3NetConnect(&s, 0x7F000001, 1, 0, 0, V3_SOCKET_STREAM), -1);
  EXPECT_EQ(s.state, 0u);
}
