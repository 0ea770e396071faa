// GETHTTP against scripted servers on 127.0.0.1: the request bytes, the
// response cases, the stall and the cancel, the header log, the port and
// address rules, failures injected through the net and file seams.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "download_fixture.h"
#include "script_server.h"

namespace rztest {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kOk5 = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n";

struct RequestCase {
  const char* name;
  std::string user, password;
  bool proxy;
  std::string expected;
};

TEST_F(DownloadTest, RequestBytesInEveryForm) {
  const std::string joined170_user(100, 'u'), joined170_pass(69, 'p');
  const std::string b64_170 = [&] {
    // Base64 of 100 'u', ':' and 69 'p', made by the test's own encoder.
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string in = joined170_user + ":" + joined170_pass, s;
    for (size_t i = 0; i < in.size(); i += 3) {
      uint32_t g = uint32_t(uint8_t(in[i])) << 16;
      if (i + 1 < in.size()) g |= uint32_t(uint8_t(in[i + 1])) << 8;
      if (i + 2 < in.size()) g |= uint8_t(in[i + 2]);
      s += a[(g >> 18) & 63];
      s += a[(g >> 12) & 63];
      s += i + 1 < in.size() ? a[(g >> 6) & 63] : '=';
      s += i + 2 < in.size() ? a[g & 63] : '=';
    }
    return s;
  }();
  // "@" stands for the Host line's value, 127.0.0.1 and the server's port.
  const std::string plain = "GET /f HTTP/1.0\r\nHost: @\r\nUser-Agent: rztest/1\r\n\r\n";
  const RequestCase cases[] = {
      {"plain", "", "", false, plain},
      {"user without password", "u", "", false, plain},
      {"password without user", "", "p", false, plain},
      {"credentials", "u", "p", false,
       "GET /f HTTP/1.0\r\nHost: @\r\nAuthorization: Basic dTpw\r\n"
       "User-Agent: rztest/1\r\n\r\n"},
      {"170 joined characters", joined170_user, joined170_pass, false,
       "GET /f HTTP/1.0\r\nHost: @\r\nAuthorization: Basic " + b64_170 +
           "\r\nUser-Agent: rztest/1\r\n\r\n"},
      {"171 joined characters", joined170_user, joined170_pass + "p", false, plain},
      {"proxy", "", "", true,
       "GET http://example.test:81/f HTTP/1.0\r\nUser-Agent: rztest/1\r\n\r\n"},
      {"proxy with credentials", "u", "p", true,
       "GET http://example.test:81/f HTTP/1.0\r\nHost: \r\nAuthorization: Basic dTpw\r\n"
       "User-Agent: rztest/1\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptServer server({Send(kOk5 + "hello")});
    ASSERT_NE(server.port(), 0);
    Fetch f;
    f.user = c.user;
    f.password = c.password;
    if (c.proxy) {
      // The server's own address and port are not used in proxy mode.
      f.host = "example.test:81";
      f.port = 9;
      f.proxy = true;
      f.proxy_host = "127.0.0.1";
      f.proxy_port = server.port();
    } else {
      f.port = server.port();
    }
    EXPECT_EQ(get(f), 0);
    std::string expected = c.expected;
    size_t at = expected.find('@');
    if (at != std::string::npos)
      expected.replace(at, 1, "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(server.request(), expected);
    EXPECT_EQ(output_text(), "hello");
    // Neither mode looks the dotted address up.
    EXPECT_EQ(net_script().lookups, 0);
  }
}

struct ResponseCase {
  const char* name;
  std::vector<Step> steps;
  int32_t result;
  std::string body;  // with result 0; a failure leaves no file behind
};

TEST_F(DownloadTest, ResponseCases) {
  const std::string big_header = [] {
    std::string h = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 60; ++i)
      h += "X-Filler-" + std::to_string(i) + ": " + std::string(90, 'f') + "\r\n";
    return h + "Content-Length: 5\r\n\r\n";
  }();
  const std::string huge_header = "HTTP/1.1 200 OK\r\n" + std::string(17000, 'x') + "\r\n\r\nhello";
  const ResponseCase cases[] = {
      {"header split over chunks",
       {Send("HTTP/1.0 2"), Pause(30), Send("00 OK\r\nContent-Le"), Pause(30),
        Send("ngth: 5\r\n\r"), Pause(30), Send("\nhel"), Pause(30), Send("lo")},
       0,
       "hello"},
      {"header of several KiB", {Send(big_header + "hello")}, 0, "hello"},
      {"header beyond 16 KiB", {Send(huge_header)}, GETHTTP_NOT_HTTP, ""},
      {"lower-case 404",
       {Send("http/1.1 404 not found\r\nContent-Length: 4\r\n\r\ngone")},
       404,
       ""},
      {"HTTP/1.0 404", {Send("HTTP/1.0 404 Not Found\r\n\r\ngone")}, 404, ""},
      {"401", {Send("HTTP/1.1 401 Unauthorized\r\n\r\nno")}, 401, ""},
      {"500", {Send("HTTP/1.0 500 Internal\r\nContent-Length: 3\r\n\r\nerr")}, 500, ""},
      {"302", {Send("HTTP/1.1 302 Found\r\nLocation: /g\r\n\r\n")}, 302, ""},
      {"not http", {Send("SSH-2.0-Test\r\n"), Hold(3000)}, GETHTTP_NOT_HTTP, ""},
      {"length without space",
       {Send("HTTP/1.0 200 OK\r\nContent-Length:5\r\n\r\nhello")},
       0,
       "hello"},
      {"garbage length is refused",
       {Send("HTTP/1.0 200 OK\r\nContent-Length: 5x\r\n\r\nhello world")},
       GETHTTP_BAD_HEADER,
       ""},
      {"no length reads to the close",
       {Send("HTTP/1.0 200 OK\r\n\r\nab"), Pause(30), Send("cd"), Pause(30), Send("ef")},
       0,
       "abcdef"},
      {"body cut short",
       {Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello")},
       GETHTTP_BODY_SHORT,
       ""},
      {"exact length, connection kept open",
       {Send(kOk5 + "hel"), Pause(30), Send("lo"), Hold(8000)},
       0,
       "hello"},
      {"more than announced", {Send(kOk5 + "hello world")}, 0, "hello"},
      {"more than announced in a later chunk, kept open",
       {Send(kOk5 + "hel"), Pause(30), Send("lo world"), Hold(8000)},
       0,
       "hello"},
      {"zero length, kept open",
       {Send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"), Hold(8000)},
       0,
       ""},
      {"204 with bytes after it, kept open",
       {Send("HTTP/1.0 204 No Content\r\n\r\nstray"), Hold(8000)},
       0,
       ""},
      {"closed without a reply", {}, GETHTTP_HEADER_SHORT, ""},
      {"closed inside the header", {Send("HTTP/1.0 200 OK\r\nContent-")}, GETHTTP_HEADER_SHORT, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(out);
    ScriptServer server(c.steps);
    ASSERT_NE(server.port(), 0);
    Fetch f;
    f.port = server.port();
    auto start = Clock::now();
    EXPECT_EQ(get(f), c.result);
    // No case may wait for a connection the server holds open.
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_EQ(output_exists(), c.result == 0);
    EXPECT_EQ(output_text(), c.body);
    EXPECT_EQ(files_in_dir(),
              c.result == 0 ? std::vector<std::string>{"out.bin"} : std::vector<std::string>{});
    server.finish();
  }
}

// The reply in pieces of `size` bytes with a short pause between them, so
// that they reach the client apart; 0 sends it whole.
std::vector<Step> in_pieces(const std::string& reply, size_t size) {
  if (size == 0) return {Send(reply)};
  std::vector<Step> steps;
  for (size_t at = 0; at < reply.size(); at += size) {
    steps.push_back(Send(reply.substr(at, size)));
    steps.push_back(Pause(2));
  }
  return steps;
}

// Replies that must fail, each sent whole and in pieces: the result never
// depends on the pieces, nothing of the reply is written, an existing
// output file stays as it was and no temporary file stays behind.
TEST_F(DownloadTest, FailuresLeaveTheExistingFileWhateverThePieces) {
  struct Case {
    const char* name;
    std::string reply;
    int32_t result;
  };
  const std::string ok = "HTTP/1.0 200 OK\r\n";
  const Case cases[] = {
      {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       GETHTTP_UNSUPPORTED_CODING},
      {"lengths that differ", ok + "Content-Length: 5\r\nContent-Length: 3\r\n\r\nhello",
       GETHTTP_BAD_HEADER},
      {"length beyond 32 bits, cut short", ok + "Content-Length: 4294967301\r\n\r\nhello",
       GETHTTP_BODY_SHORT},
      {"unreadable length", ok + "Content-Length: +5\r\n\r\nhello", GETHTTP_BAD_HEADER},
      {"length with a nul", ok + std::string("Content-Length: 2\0 9\r\n\r\nhello", 27),
       GETHTTP_BAD_HEADER},
      {"300 leading zeros, cut short",
       ok + "Content-Length: " + std::string(300, '0') + "9\r\n\r\nhello", GETHTTP_BODY_SHORT},
      {"206 without a range", "HTTP/1.1 206 Partial Content\r\nContent-Length: 5\r\n\r\nhello",
       206},
      {"status 000", "HTTP/1.0 000 X\r\nContent-Length: 5\r\n\r\nhello", GETHTTP_NOT_HTTP},
      {"status 099", "HTTP/1.0 099 X\r\n\r\nhello", GETHTTP_NOT_HTTP},
      {"404", "HTTP/1.0 404 Not Found\r\n\r\ngone", 404},
      {"header cut by the close", ok + "Content-Length: 5\r\n", GETHTTP_HEADER_SHORT},
  };
  for (const auto& c : cases) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{7}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(size));
      write_text(out, "keep me");
      ScriptServer server(in_pieces(c.reply, size));
      Fetch f;
      f.port = server.port();
      EXPECT_EQ(get(f), c.result);
      EXPECT_EQ(output_text(), "keep me");
      EXPECT_EQ(files_in_dir(), std::vector<std::string>{"out.bin"});
      server.finish();
    }
  }
}

TEST_F(DownloadTest, SuccessReplacesTheExistingFile) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{7}}) {
    SCOPED_TRACE(size);
    write_text(out, "an older and longer file");
    ScriptServer server(in_pieces(kOk5 + "hello", size));
    Fetch f;
    f.port = server.port();
    EXPECT_EQ(get(f), 0);
    EXPECT_EQ(output_text(), "hello");
    EXPECT_EQ(files_in_dir(), std::vector<std::string>{"out.bin"});
  }
}

// Stall, cancel, a reset, a failed write, an output that is a folder: the
// existing file stays and the temporary file goes.
TEST_F(DownloadTest, InterruptedDownloadsLeaveTheExistingFile) {
  const std::string head10 = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello";
  {
    SCOPED_TRACE("stall");
    write_text(out, "keep me");
    rz_host_set_stall_time(300);
    ScriptServer server({Send(head10), Hold(8000)});
    Fetch f;
    f.port = server.port();
    EXPECT_EQ(get(f), GETHTTP_STALLED);
    EXPECT_EQ(output_text(), "keep me");
    rz_host_set_stall_time(10000);
  }
  {
    SCOPED_TRACE("cancel");
    percents.clear();
    cancel_at_report = 1;
    ScriptServer server({Send(head10), Hold(8000)});
    Fetch f;
    f.port = server.port();
    EXPECT_EQ(get(f), GETHTTP_CANCELLED);
    EXPECT_EQ(output_text(), "keep me");
    cancel_at_report = 0;
  }
  {
    SCOPED_TRACE("receive fails");
    install_net_wrapper();
    net_script().fail_receive = 2;
    ScriptServer server({Send(head10), Pause(50), Send("world")});
    Fetch f;
    f.port = server.port();
    EXPECT_EQ(get(f), GETHTTP_RECEIVE_FAILED);
    EXPECT_EQ(output_text(), "keep me");
  }
  EXPECT_EQ(files_in_dir(), std::vector<std::string>{"out.bin"});
  {
    SCOPED_TRACE("output is a folder");
    install_net_wrapper();
    std::string folder = dir / "folder";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    ScriptServer server({Send(kOk5 + "hello")});
    Fetch f;
    f.port = server.port();
    f.output = folder;
    EXPECT_EQ(get(f), GETHTTP_CANNOT_CREATE);
    EXPECT_EQ(files_in_dir(), (std::vector<std::string>{"folder", "out.bin"}));
  }
}

// Bytes above 0x7f, percent-encoded spaces and spaces in the user agent go
// out as they are (control characters are refused with the texts that do
// not fit, below).
TEST_F(DownloadTest, TextsGoOutAsTheyStand) {
  ScriptServer server({Send(kOk5 + "hello")});
  Fetch f;
  f.port = server.port();
  f.path = "/a%20b/\xe9t\xe9";
  f.agent = "agent with spaces";
  EXPECT_EQ(get(f), 0);
  EXPECT_EQ(server.request(),
            "GET /a%20b/\xe9t\xe9 HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                "\r\nUser-Agent: agent with spaces\r\n\r\n");
}

// A length beyond 32 bits is kept whole: the end test and the progress
// use it, so a reply cut short is not taken for the whole file.
TEST_F(DownloadTest, LengthBeyond32Bits) {
  ScriptServer server(
      {Send("HTTP/1.0 200 OK\r\nContent-Length: 8589934592\r\n\r\nabc"), Pause(50), Send("def")});
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), GETHTTP_BODY_SHORT);
  ASSERT_FALSE(percents.empty());
  for (int32_t p : percents) EXPECT_EQ(p, 0);
  EXPECT_FALSE(output_exists());
}

TEST_F(DownloadTest, StallEndsTheDownload) {
  rz_host_set_stall_time(300);
  ScriptServer server({Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello"), Hold(8000)});
  Fetch f;
  f.port = server.port();
  auto start = Clock::now();
  EXPECT_EQ(get(f), GETHTTP_STALLED);
  double took = seconds_since(start);
  EXPECT_GE(took, 0.25);
  EXPECT_LT(took, 5.0);
  EXPECT_FALSE(output_exists());
  EXPECT_TRUE(server.client_closed());
  // The limit is set on the socket once, not before every receive.
  EXPECT_EQ(net_script().timeouts, 1);
  EXPECT_EQ(net_script().last_timeout, 300u);
}

// Each receive offers the whole 64 KiB area; the time limit is set once.
TEST_F(DownloadTest, ReceivesTakeUpTo64KiB) {
  std::string body(300000, 'b');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 23);
  ScriptServer server(
      {Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"),
       Pause(30), Send(body)});
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), 0);
  EXPECT_EQ(output_text(), body);
  EXPECT_EQ(net_script().largest_room, 65536u);
  EXPECT_EQ(net_script().timeouts, 1);
  // One report per receive, and no receive holds more than 64 KiB.
  EXPECT_GE(percents.size(), 1 + body.size() / 65536);
  EXPECT_EQ(percents.back(), 100);
}

// A receive that a signal cuts short is taken up again with what is left of
// the stall time: only the clock ends the download, and a clock that runs
// out ends it even when every receive is cut short.  A cancel posted by the
// signal's handler is seen at once.
TEST_F(DownloadTest, ReceivesCutShortDoNotEndOrHangTheDownload) {
  {
    ScriptServer server({Send(kOk5 + "hello")});
    net_script().cut_receives = 5;
    Fetch f;
    f.port = server.port();
    EXPECT_EQ(get(f), 0);
    EXPECT_EQ(output_text(), "hello");
    EXPECT_GT(net_script().receives, 5);
    // The limit, shortened after each cut, is set back once data came.
    EXPECT_EQ(net_script().last_timeout, 10000u);
  }
  {
    install_net_wrapper();
    rz_host_set_stall_time(1000);
    ScriptServer server({Send(kOk5 + "hello")});
    net_script().cut_receives = -1;
    net_script().clock_step = 100;
    Fetch f;
    f.port = server.port();
    EXPECT_EQ(get(f), GETHTTP_STALLED);
    EXPECT_GE(net_script().receives, 3);
    EXPECT_LE(net_script().receives, 10);
    EXPECT_LT(net_script().last_timeout, 1000u);
  }
  install_net_wrapper();
  percents.clear();
  cancel_at_report = 1;
  ScriptServer server({Send(kOk5 + "hello")});
  net_script().cut_receives = -1;
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), GETHTTP_CANCELLED);
  EXPECT_EQ(net_script().receives, 1);
}

TEST_F(DownloadTest, CancelAfterTheFirstChunk) {
  cancel_at_report = 1;
  ScriptServer server({Send("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nabc"), Pause(100),
                       Send("def"), Hold(8000)});
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), GETHTTP_CANCELLED);
  EXPECT_EQ(percents.size(), 1u);
  EXPECT_FALSE(output_exists());
  EXPECT_TRUE(server.client_closed());
}

TEST_F(DownloadTest, ProgressFollowsTheBodyBytes) {
  // 3000 bytes in three pieces: reports rise to exactly 100.
  std::string body(3000, 'b');
  ScriptServer server({Send("HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n"), Pause(100),
                       Send(body.substr(0, 1000)), Pause(100), Send(body.substr(1000, 1000)),
                       Pause(100), Send(body.substr(2000))});
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), 0);
  // The header chunk, then the pieces (which a slow reader may take together).
  ASSERT_GE(percents.size(), 3u);
  for (size_t i = 1; i < percents.size(); ++i) EXPECT_GE(percents[i], percents[i - 1]);
  // Units of 1000 bytes against a total of 3: only these values can appear.
  for (int32_t p : percents) EXPECT_TRUE(p == 0 || p == 33 || p == 66 || p == 100) << p;
  EXPECT_EQ(percents.front(), 0);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(output_text(), body);
}

TEST_F(DownloadTest, ProgressWithoutALengthStaysAtZero) {
  ScriptServer server({Send("HTTP/1.0 200 OK\r\n\r\nab"), Pause(30), Send("cd")});
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), 0);
  ASSERT_GE(percents.size(), 2u);
  for (int32_t p : percents) EXPECT_EQ(p, 0);
}

TEST_F(DownloadTest, HeaderLogHoldsEachLineUpToTheEnd) {
  ScriptServer server({Send("HTTP/1.0 200 OK\r\nServer: t\r\nContent-Length: 5\r\n\r\nhello")});
  Fetch f;
  f.port = server.port();
  f.log = true;
  EXPECT_EQ(get(f), 0);
  auto entries = log_entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].second, "HTTP/1.0 200 OK");
  EXPECT_EQ(entries[1].second, "Server: t");
  EXPECT_EQ(entries[2].second, "Content-Length: 5");
  EXPECT_EQ(entries[3].second, "");
  for (size_t i = 1; i < entries.size(); ++i) EXPECT_EQ(entries[i].first, entries[i - 1].first + 1);

  // A second download adds keys after the first one's, never over them.
  ScriptServer again({Send("SSH-2.0-Test\r\nmore\r\n")});
  f.port = again.port();
  EXPECT_EQ(get(f), GETHTTP_NOT_HTTP);
  auto after = log_entries();
  ASSERT_EQ(after.size(), 5u);  // the other protocol's line is the only one logged
  EXPECT_EQ(after[4].second, "SSH-2.0-Test");
  EXPECT_GT(after[4].first, entries[3].first);
}

// A header of thousands of short lines is read whole, but only its first
// 128 lines are logged: each entry rewrites the log file.
TEST_F(DownloadTest, HeaderLogTakesTheFirst128Lines) {
  std::string many = "HTTP/1.0 200 OK\r\n";
  for (int i = 0; i < 3000; ++i) many += "a\r\n";
  ScriptServer server({Send(many + "Content-Length: 5\r\n\r\nhello")});
  Fetch f;
  f.port = server.port();
  f.log = true;
  auto start = Clock::now();
  EXPECT_EQ(get(f), 0);
  EXPECT_LT(seconds_since(start), 5.0);
  EXPECT_EQ(output_text(), "hello");
  auto entries = log_entries();
  ASSERT_EQ(entries.size(), 128u);
  EXPECT_EQ(entries[0].second, "HTTP/1.0 200 OK");
  EXPECT_EQ(entries[127].second, "a");
}

TEST_F(DownloadTest, NoLogWithoutTheFlag) {
  ScriptServer server({Send(kOk5 + "hello")});
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), 0);
  EXPECT_TRUE(log_entries().empty());
}

TEST_F(DownloadTest, PortRules) {
  {
    // Port 0 takes the "http" service's port.
    ScriptServer server({Send(kOk5 + "hello")});
    net_script().fake_service = true;
    net_script().service = server.port();
    Fetch f;
    EXPECT_EQ(get(f), 0);
    EXPECT_EQ(net_script().connect_port, server.port());
  }
  {
    // A port asked for wins over the service database.
    install_net_wrapper();
    ScriptServer server({Send(kOk5 + "hello")});
    net_script().fake_service = true;
    net_script().service = 1;
    Fetch f;
    f.port = 0x10000u | server.port();  // only the low 16 bits count
    EXPECT_EQ(get(f), 0);
    EXPECT_EQ(net_script().connect_port, server.port());
  }
  {
    // Without the service, port 0 means 80.  The connect is faked: no
    // test may reach a real port 80.
    install_net_wrapper();
    net_script().fake_service = true;
    net_script().fake_connect = true;
    Fetch f;
    f.proxy = true;
    f.proxy_host = "127.0.0.1";
    EXPECT_EQ(get(f), GETHTTP_NO_CONNECT);
    EXPECT_EQ(net_script().connect_port, 80);
  }
}

TEST_F(DownloadTest, NamesAreLookedUpAndLookupFailuresLeaveTheFileAlone) {
  write_text(out, "keep me");
  net_script().fake_lookup = true;
  net_script().lookup_error = 2;
  Fetch f;
  f.host = "no-such-host.invalid";
  f.port = 9;
  EXPECT_EQ(get(f), GETHTTP_LOOKUP_FAILED + 2);
  EXPECT_EQ(net_script().sockets, 0);
  EXPECT_EQ(output_text(), "keep me");

  // In proxy mode the proxy's name is the one looked up.
  install_net_wrapper();
  ScriptServer server({Send(kOk5 + "hello")});
  net_script().fake_lookup = true;
  net_script().lookup_address = 0x0100007f;  // 127.0.0.1 in network order
  f.proxy = true;
  f.proxy_host = "proxy.test";
  f.proxy_port = server.port();
  EXPECT_EQ(get(f), 0);
  EXPECT_EQ(net_script().lookups, 1);
  EXPECT_EQ(server.request(),
            "GET http://no-such-host.invalid/f HTTP/1.0\r\nUser-Agent: rztest/1\r\n\r\n");
}

// "localhost" comes from the hosts file; no name server is asked.
TEST_F(DownloadTest, RealLookupOfLocalhost) {
  ScriptServer server({Send(kOk5 + "hello")});
  Fetch f;
  f.host = "localhost";
  f.port = server.port();
  ASSERT_EQ(get(f), 0);
  EXPECT_EQ(net_script().lookups, 1);
  EXPECT_EQ(output_text(), "hello");
}

// Texts that do not fit, or that would add lines to the request, are
// refused before anything is looked up or sent.
TEST_F(DownloadTest, TextsThatCannotGoOutAreRefusedBeforeAnything) {
  const std::string k256(256, 'a'), k255(255, 'a');
  struct Case {
    const char* name;
    Fetch f;
    int32_t result = GETHTTP_TOO_LONG;
  };
  auto with = [](auto change) {
    Fetch f;
    f.port = 9;
    change(f);
    return f;
  };
  const Case cases[] = {
      {"host", with([&](Fetch& f) { f.host = k256; })},
      {"path", with([&](Fetch& f) { f.path = "/" + k255; })},
      {"user", with([&](Fetch& f) {
         f.user = k256;
         f.password = "p";
       })},
      {"password", with([&](Fetch& f) {
         f.user = "u";
         f.password = k256;
       })},
      {"output", with([&](Fetch& f) { f.output = "/" + k255; })},
      {"proxy host", with([&](Fetch& f) {
         f.proxy = true;
         f.proxy_host = k256;
       })},
      {"absolute url", with([&](Fetch& f) {
         f.proxy = true;
         f.proxy_host = "127.0.0.1";
         f.host = std::string(200, 'h');
         f.path = "/" + std::string(60, 'p');
       })},
      {"request", with([&](Fetch& f) { f.agent = std::string(1000, 'a'); })},
      {"cr lf in the path",
       with([&](Fetch& f) { f.path = "/f HTTP/1.0\r\nX-Injected: 1\r\n\r\nGET /g"; }),
       GETHTTP_BAD_TEXT},
      {"lf in the path", with([&](Fetch& f) { f.path = "/f\nX: 1"; }), GETHTTP_BAD_TEXT},
      {"space in the path", with([&](Fetch& f) { f.path = "/a b"; }), GETHTTP_BAD_TEXT},
      {"tab in the path", with([&](Fetch& f) { f.path = "/a\tb"; }), GETHTTP_BAD_TEXT},
      {"escape in the path", with([&](Fetch& f) { f.path = "/a\x1b[2J"; }), GETHTTP_BAD_TEXT},
      {"delete in the path", with([&](Fetch& f) { f.path = "/a\x7f"; }), GETHTTP_BAD_TEXT},
      {"cr lf in the host", with([&](Fetch& f) { f.host = "127.0.0.1\r\nX: 1"; }),
       GETHTTP_BAD_TEXT},
      {"cr lf in the proxied host", with([&](Fetch& f) {
         f.proxy = true;
         f.proxy_host = "127.0.0.1";
         f.host = "h\r\nX: 1";
       }),
       GETHTTP_BAD_TEXT},
      {"lf in the agent", with([&](Fetch& f) { f.agent = "a\nX-Injected: 1"; }), GETHTTP_BAD_TEXT},
  };
  write_text(out, "keep me");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    install_net_wrapper();
    EXPECT_EQ(get(c.f), c.result);
    EXPECT_EQ(net_script().parses + net_script().lookups + net_script().sockets, 0);
    EXPECT_EQ(output_text(), "keep me");
  }
  // The longest texts that fit go out.
  install_net_wrapper();
  ScriptServer server({Send(kOk5 + "hello")});
  Fetch f;
  f.port = server.port();
  f.path = "/" + std::string(254, 'p');
  EXPECT_EQ(get(f), 0);
  EXPECT_EQ(server.request().substr(0, 260), "GET " + f.path + " ");
}

TEST_F(DownloadTest, FailuresBeforeTheFileLeaveItAlone) {
  struct Case {
    const char* name;
    int NetScript::*fail;
    int32_t result;
  };
  const Case cases[] = {
      {"socket", &NetScript::fail_socket, GETHTTP_NO_SOCKET},
      {"send", &NetScript::fail_send, GETHTTP_SEND_FAILED},
  };
  write_text(out, "keep me");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    install_net_wrapper();
    ScriptServer server({Send(kOk5 + "hello")});
    net_script().*c.fail = 1;
    Fetch f;
    f.port = server.port();
    EXPECT_EQ(get(f), c.result);
    EXPECT_EQ(output_text(), "keep me");
  }
  Fetch f;
  f.port = closed_port();
  EXPECT_EQ(get(f), GETHTTP_NO_CONNECT);
  EXPECT_EQ(output_text(), "keep me");
}

TEST_F(DownloadTest, ReceiveFailureLeavesNoPartialFile) {
  ScriptServer server({Send(kOk5 + "he"), Pause(50), Send("llo")});
  net_script().fail_receive = 2;
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), GETHTTP_RECEIVE_FAILED);
  EXPECT_FALSE(output_exists());
  EXPECT_TRUE(files_in_dir().empty());
}

TEST_F(DownloadTest, OutputFileThatCannotBeCreated) {
  ScriptServer server({Send(kOk5 + "hello")});
  Fetch f;
  f.port = server.port();
  f.output = dir / "missing-folder/out.bin";
  EXPECT_EQ(get(f), GETHTTP_CANNOT_CREATE);
}

namespace {
int g_writes = 0;
int32_t failing_write(rz::plat::FileHandle, const void*, uint32_t) {
  ++g_writes;
  return -1;
}
}  // namespace

TEST_F(DownloadTest, WriteFailureIsReported) {
  rz::plat::FileOps ops = rz::plat::native_file_ops();
  ops.write = failing_write;
  rz::plat::set_file_ops(&ops);
  g_writes = 0;
  ScriptServer server({Send(kOk5 + "hello")});
  Fetch f;
  f.port = server.port();
  EXPECT_EQ(get(f), GETHTTP_WRITE_FAILED);
  rz::plat::set_file_ops(nullptr);
  EXPECT_EQ(g_writes, 1);
  EXPECT_FALSE(output_exists());
  EXPECT_TRUE(files_in_dir().empty());
}

}  // namespace
}  // namespace rztest
