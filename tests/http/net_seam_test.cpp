// The POSIX network seam itself: address texts, the end of a stream, waits
// that time out, and sends to a peer that has gone, which must fail
// without a signal ending the process.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/net.h"
#include "script_server.h"

namespace rztest {
namespace {

namespace plat = rz::plat;
using Clock = std::chrono::steady_clock;

TEST(NetSeam, DottedAddressesAreReadAsTheyStand) {
  struct Case {
    const char* text;
    int ok;
    uint32_t address;  // network byte order, as stored
  };
  const Case cases[] = {
      {"127.0.0.1", 1, htonl(0x7f000001)},
      {"10.1.2.3", 1, htonl(0x0a010203)},
      {"127.1", 1, htonl(0x7f000001)},
      {"localhost", 0, 0},
      {"1.2.3.4.5", 0, 0},
      {"256.1.1.1", 0, 0},
      {"", 0, 0},
      {nullptr, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t a = 0;
    EXPECT_EQ(plat::native_net_ops().parse_address(c.text, &a), c.ok) << (c.text ? c.text : "null");
    if (c.ok) {
      EXPECT_EQ(a, c.address) << c.text;
    }
  }
}

// Connects a new socket to a scripted server on 127.0.0.1.
plat::SocketHandle connect_to(uint16_t port) {
  const plat::NetOps& ops = plat::native_net_ops();
  plat::SocketHandle s = ops.open_stream();
  if (s == plat::kNoSocket) return s;
  uint32_t loopback = htonl(INADDR_LOOPBACK);
  if (ops.connect(s, loopback, port) != 0) {
    ops.close(s);
    return plat::kNoSocket;
  }
  return s;
}

TEST(NetSeam, WaitTimesOutThenSeesDataAndTheEnd) {
  const plat::NetOps& ops = plat::native_net_ops();
  ScriptServer server({Pause(300), Send("xy")});
  plat::SocketHandle s = connect_to(server.port());
  ASSERT_NE(s, plat::kNoSocket);
  ASSERT_EQ(plat::net_send_all(s, "GET\r\n\r\n", 7), 0);
  auto start = Clock::now();
  EXPECT_EQ(ops.wait_readable(s, 50), plat::kNetWaitOver);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.25);
  EXPECT_EQ(ops.wait_readable(s, 5000), plat::kNetReady);
  char buf[8];
  EXPECT_EQ(ops.receive(s, buf, sizeof buf), 2);
  EXPECT_EQ(ops.wait_readable(s, 5000), plat::kNetReady);  // the end is "ready" too
  EXPECT_EQ(ops.receive(s, buf, sizeof buf), 0);
  EXPECT_EQ(ops.close(s), 0);
}

TEST(NetSeam, SendToAClosedPeerFailsWithoutASignal) {
  const plat::NetOps& ops = plat::native_net_ops();
  ScriptServer server({});  // reads the request, then closes
  plat::SocketHandle s = connect_to(server.port());
  ASSERT_NE(s, plat::kNoSocket);
  ASSERT_EQ(plat::net_send_all(s, "GET\r\n\r\n", 7), 0);
  server.finish();
  // The first send after the close draws a reset, a later one the broken
  // pipe; without MSG_NOSIGNAL that would end this process.
  int32_t result = 0;
  for (int i = 0; i < 200 && result >= 0; ++i) {
    result = ops.send(s, "more", 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(plat::net_send_all(s, "more", 4), -1);
  ops.close(s);
}

TEST(NetSeam, ClockMovesForward) {
  uint32_t a = plat::native_net_ops().now_ms();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  uint32_t b = plat::native_net_ops().now_ms();
  EXPECT_GE(b - a, 25u);
  EXPECT_LT(b - a, 5000u);
}

}  // namespace
}  // namespace rztest
