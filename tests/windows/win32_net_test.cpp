// Windows Sockets 1.1 through the net layer, and one GETHTTP against a
// server on 127.0.0.1 that the test starts and stops itself.
#include <winsock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/net.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "win32_fixture.h"

namespace {

using namespace rz::plat;

// A listening socket on 127.0.0.1 with a port chosen by the system.
struct Listener {
  SOCKET s = INVALID_SOCKET;
  uint16_t port = 0;
  Listener() {
    s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int len = sizeof a;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(s, 4) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port = ::ntohs(a.sin_port);
  }
  ~Listener() {
    if (s != INVALID_SOCKET) ::closesocket(s);
  }
};

class Win32Net : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ops_.start(), 0); }
  void TearDown() override { EXPECT_EQ(ops_.stop(), 0); }
  const NetOps& ops_ = native_net_ops();
};

TEST_F(Win32Net, AddressesAndServices) {
  struct Case {
    const char* text;
    int ok;
    uint32_t address;  // network order, as inet_addr gives it
  };
  const Case cases[] = {{"127.0.0.1", 1, 0x0100007f},
                        {"255.255.255.255", 1, 0xffffffff},
                        {"10.1.2.3", 1, 0x0302010a},
                        {"example", 0, 0},
                        {"", 0, 0}};
  for (const Case& c : cases) {
    uint32_t a = 0;
    EXPECT_EQ(ops_.parse_address(c.text, &a), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(a, c.address) << c.text;
    }
  }
  uint32_t a = 0;
  EXPECT_EQ(ops_.lookup_host("localhost", &a), 0);
  EXPECT_EQ(a, 0x0100007fu);
  EXPECT_EQ(ops_.service_port("http", "tcp"), 80) << "needs the services file";
  EXPECT_EQ(ops_.service_port("no-such-service", "tcp"), 0);
}

TEST_F(Win32Net, StreamSendWaitReceiveAndEnd) {
  Listener server;
  ASSERT_NE(server.port, 0);
  SocketHandle client = ops_.open_stream();
  ASSERT_NE(client, kNoSocket);
  ASSERT_EQ(ops_.connect(client, ::inet_addr("127.0.0.1"), server.port), 0);
  SOCKET peer = ::accept(server.s, nullptr, nullptr);
  ASSERT_NE(peer, INVALID_SOCKET);

  EXPECT_EQ(ops_.send(client, "ping", 4), 4);
  char got[16] = {};
  EXPECT_EQ(::recv(peer, got, sizeof got, 0), 4);
  EXPECT_EQ(std::string(got, 4), "ping");

  ASSERT_EQ(ops_.set_receive_timeout(client, 200), 0);
  DWORD before = ::GetTickCount();
  EXPECT_EQ(ops_.receive(client, got, sizeof got), kNetTimedOut);
  EXPECT_GE(ops_.now_ms() - before, 150u) << "the receive waited about its time";

  // A new socket: after a timed-out receive Windows leaves the old one in an
  // undefined state.
  SocketHandle second = ops_.open_stream();
  ASSERT_NE(second, kNoSocket);
  ASSERT_EQ(ops_.connect(second, ::inet_addr("127.0.0.1"), server.port), 0);
  SOCKET peer2 = ::accept(server.s, nullptr, nullptr);
  ASSERT_NE(peer2, INVALID_SOCKET);
  ASSERT_EQ(ops_.set_receive_timeout(second, 5000), 0);
  ASSERT_EQ(::send(peer2, "pong", 4, 0), 4);
  EXPECT_EQ(ops_.receive(second, got, sizeof got), 4);
  ::closesocket(peer2);
  EXPECT_EQ(ops_.receive(second, got, sizeof got), 0) << "the end of the stream";
  EXPECT_EQ(ops_.close(second), 0);
  ::closesocket(peer);
  EXPECT_EQ(ops_.close(client), 0);
}

TEST_F(Win32Net, ConnectRefusedAndClosedSocket) {
  uint16_t port;
  {
    Listener gone;
    port = gone.port;
  }
  SocketHandle client = ops_.open_stream();
  ASSERT_NE(client, kNoSocket);
  EXPECT_EQ(ops_.connect(client, ::inet_addr("127.0.0.1"), port), -1);
  EXPECT_EQ(ops_.close(client), 0);
  EXPECT_EQ(ops_.send(kNoSocket, "x", 1), -1);
  char buf[4];
  EXPECT_EQ(ops_.receive(kNoSocket, buf, sizeof buf), kNetFailed);
  EXPECT_EQ(ops_.set_receive_timeout(kNoSocket, 5), -1);
}

// Serves one response to one request on its own thread.
struct OneShotServer {
  Listener listener;
  std::string response;
  std::string request;
  HANDLE thread = nullptr;

  static DWORD WINAPI serve(void* self) {
    auto* s = static_cast<OneShotServer*>(self);
    SOCKET peer = ::accept(s->listener.s, nullptr, nullptr);
    if (peer == INVALID_SOCKET) return 1;
    char buf[1024];
    while (s->request.find("\r\n\r\n") == std::string::npos) {
      int got = ::recv(peer, buf, sizeof buf, 0);
      if (got <= 0) break;
      s->request.append(buf, static_cast<size_t>(got));
    }
    size_t done = 0;
    while (done < s->response.size()) {
      int put =
          ::send(peer, s->response.data() + done, static_cast<int>(s->response.size() - done), 0);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::closesocket(peer);
    return 0;
  }
  bool start() {
    thread = ::CreateThread(nullptr, 0, serve, this, 0, nullptr);
    return thread != nullptr;
  }
  void join() {
    if (thread) {
      ::WaitForSingleObject(thread, 10000);
      ::CloseHandle(thread);
      thread = nullptr;
    }
  }
  ~OneShotServer() { join(); }
};

TEST(Win32Http, GetWritesTheBodyToTheFile) {
  ASSERT_EQ(WEBSTARTUP(), 0);
  rzwin::TempDir dir;
  std::string body;
  for (int i = 0; i < 5000; ++i) body += static_cast<char>('a' + i % 26);
  OneShotServer server;
  ASSERT_NE(server.listener.port, 0);
  server.response =
      "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  ASSERT_TRUE(server.start());
  std::string out = dir.file("body.bin");
  int32_t r = GETHTTP("127.0.0.1", "/file.bin", out.c_str(), 0, 0, server.listener.port, "", "", 0,
                      "", 0, 0, "raziza3z-test");
  server.join();
  EXPECT_EQ(r, 0);
  EXPECT_EQ(rzwin::read_file(out), body);
  EXPECT_EQ(server.request.rfind("GET /file.bin HTTP/1.0\r\n", 0), 0u) << server.request;
  EXPECT_NE(server.request.find("raziza3z-test"), std::string::npos) << server.request;
  EXPECT_EQ(WEBCLEANUP(), 0);
}

TEST(Win32Http, StatusAndRefusalReachTheCaller) {
  ASSERT_EQ(WEBSTARTUP(), 0);
  rzwin::TempDir dir;
  std::string out = dir.file("missing.bin");
  {
    OneShotServer server;
    server.response = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    ASSERT_TRUE(server.start());
    EXPECT_EQ(GETHTTP("127.0.0.1", "/nothing", out.c_str(), 0, 0, server.listener.port, "", "", 0,
                      "", 0, 0, "t"),
              404);
  }
  uint16_t port;
  {
    Listener gone;
    port = gone.port;
  }
  EXPECT_EQ(GETHTTP("127.0.0.1", "/", out.c_str(), 0, 0, port, "", "", 0, "", 0, 0, "t"),
            GETHTTP_NO_CONNECT);
  EXPECT_EQ(WEBCLEANUP(), 0);
}

}  // namespace
