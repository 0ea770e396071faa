// The POSIX network seam itself: address texts, the end of a stream, waits
// that time out, and sends to a peer that has gone, which must fail
// without a signal ending the process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

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

TEST(NetSeam, ReceiveTimesOutThenSeesDataAndTheEnd) {
  const plat::NetOps& ops = plat::native_net_ops();
  ScriptServer server({Pause(300), Send("xy")});
  plat::SocketHandle s = connect_to(server.port());
  ASSERT_NE(s, plat::kNoSocket);
  ASSERT_EQ(plat::net_send_all(s, "GET\r\n\r\n", 7), 0);
  ASSERT_EQ(ops.set_receive_timeout(s, 50), 0);
  char buf[8];
  auto start = Clock::now();
  EXPECT_EQ(ops.receive(s, buf, sizeof buf), plat::kNetTimedOut);
  double took = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(took, 0.04);
  EXPECT_LT(took, 0.25);
  ASSERT_EQ(ops.set_receive_timeout(s, 5000), 0);
  EXPECT_EQ(ops.receive(s, buf, sizeof buf), 2);
  EXPECT_EQ(ops.receive(s, buf, sizeof buf), 0);  // the end of the stream
  EXPECT_EQ(ops.close(s), 0);
  EXPECT_EQ(ops.receive(plat::kNoSocket, buf, sizeof buf), plat::kNetFailed);
  EXPECT_EQ(ops.set_receive_timeout(plat::kNoSocket, 5), -1);
}

namespace {
void on_alarm(int) {}
}  // namespace

// A signal that cuts a receive short is handed back to the caller, which
// may have a cancel waiting; the wait is not silently taken up again.
TEST(NetSeam, ReceiveInterruptedByASignal) {
#ifdef RZ_TEST_EMULATOR
  // Under qemu-i386 the process aborts once the signal arrives during the
  // blocking receive; the native builds test this.
  GTEST_SKIP() << "a receive interrupted by a signal is not run under the emulator";
#endif
  const plat::NetOps& ops = plat::native_net_ops();
  ScriptServer server({Hold(3000)});
  plat::SocketHandle s = connect_to(server.port());
  ASSERT_NE(s, plat::kNoSocket);
  ASSERT_EQ(plat::net_send_all(s, "GET\r\n\r\n", 7), 0);
  ASSERT_EQ(ops.set_receive_timeout(s, 5000), 0);
  struct sigaction sa {
  }, old{};
  sa.sa_handler = on_alarm;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
  itimerval t{};
  t.it_value.tv_usec = 100000;
  ASSERT_EQ(setitimer(ITIMER_REAL, &t, nullptr), 0);
  char buf[8];
  auto start = Clock::now();
  EXPECT_EQ(ops.receive(s, buf, sizeof buf), plat::kNetInterrupted);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
  sigaction(SIGALRM, &old, nullptr);
  ops.close(s);
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
