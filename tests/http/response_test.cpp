// The response header parse: status line, Content-Length, line ends, the
// lines handed to the log, and headers that arrive in pieces.
#include "http/response.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "raziza3z.h"

namespace rz::http {
namespace {

TEST(StatusLine, Table) {
  struct Case {
    const char* line;
    int rc;
    int32_t status;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK", 0, 200},
      {"HTTP/1.1 404 Not Found", 0, 404},
      {"http/1.1 401 unauthorized", 0, 401},
      {"Http/1.0 500", 0, 500},
      {"HTTP/1.1  302\tFound", 0, 302},
      {"HTTP/1.12 204 No Content", 0, 204},
      {"HTTP/1.1 20 OK", -1, 0},
      {"HTTP/1.1 2000", -1, 0},
      {"HTTP/1.0 000 X", -1, 0},
      {"HTTP/1.0 099 X", -1, 0},
      {"HTTP/1.0 600 X", -1, 0},
      {"HTTP/1.0 100 Continue", 0, 100},
      {"HTTP/1.0 599", 0, 599},
      {"HTTP/1.1 abc", -1, 0},
      {"HTTP/1. 200", -1, 0},
      {"HTTP/1.1", -1, 0},
      {"HTTP/2 200", -1, 0},
      {"ICY 200 OK", -1, 0},
      {"", -1, 0},
  };
  for (const auto& c : cases) {
    int32_t status = 0;
    EXPECT_EQ(parse_status_line(c.line, &status), c.rc) << c.line;
    if (c.rc == 0) {
      EXPECT_EQ(status, c.status) << c.line;
    }
  }
}

TEST(ContentLength, Table) {
  struct Case {
    std::string value;  // the text after "Content-Length:"
    bool valid;
    uint64_t length;
  };
  const Case cases[] = {
      {" 512", true, 512},
      {"512", true, 512},
      {"  512", true, 512},
      {"\t512 \t", true, 512},
      {" 0", true, 0},
      {" 0000000000007", true, 7},
      {std::string(300, '0') + "7", true, 7},
      {std::string(250, ' ') + "7" + std::string(250, ' '), true, 7},
      {" 4294967295", true, 4294967295u},
      {" 4294967296", true, 4294967296u},
      {" 18446744073709551615", true, UINT64_MAX},
      {" 18446744073709551616", false, 0},
      {" 99999999999999999999999", false, 0},
      {" 12x", false, 0},
      {" 5x", false, 0},
      {" 1 2", false, 0},
      {" 5, 5", false, 0},
      {" -1", false, 0},
      {" +5", false, 0},
      {" 0x10", false, 0},
      {std::string(" 2\0 9", 5), false, 0},
      {" ", false, 0},
      {"", false, 0},
  };
  for (const auto& c : cases) {
    uint64_t length = 12345;
    EXPECT_EQ(parse_content_length(c.value.data(), static_cast<uint32_t>(c.value.size()), &length),
              c.valid)
        << '"' << c.value << '"';
    if (c.valid) {
      EXPECT_EQ(length, c.length) << c.value;
    }
  }
}

// What one parse produced, fed in chunks of a given size.
struct Outcome {
  HeaderStep step;
  int32_t result;
  bool has_length;
  uint64_t length;
  std::string body;
  std::vector<std::string> logged;
};

void collect(void* context, const char* line) {
  static_cast<std::vector<std::string>*>(context)->push_back(line);
}

// Feeds the bytes chunk by chunk, as the download gathers them, until the
// parse has a verdict or the bytes run out.
Outcome feed(const std::string& bytes, size_t chunk) {
  HeaderParse p{};
  Outcome o{};
  HeaderStep step = HeaderStep::need_more;
  size_t filled = 0;
  while (step == HeaderStep::need_more && filled < bytes.size()) {
    filled = std::min(bytes.size(), filled + chunk);
    step = parse_header(p, reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<uint32_t>(filled), collect, &o.logged);
  }
  o.step = step;
  o.result = p.result;
  o.has_length = p.has_length;
  o.length = p.declared_length;
  if (step == HeaderStep::done) o.body = bytes.substr(p.line_position, filled - p.line_position);
  return o;
}

struct HeaderCase {
  const char* name;
  std::string bytes;
  HeaderStep step;
  int32_t result;
  bool has_length;
  uint64_t length;
  std::vector<std::string> logged;
};

const HeaderStep kDone = HeaderStep::done;
const HeaderStep kFailed = HeaderStep::failed;
const HeaderStep kMore = HeaderStep::need_more;

TEST(Header, Table) {
  const std::string long_value(300, 'v');
  const HeaderCase cases[] = {
      {"crlf",
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n",
       kDone,
       0,
       true,
       5,
       {"HTTP/1.0 200 OK", "Content-Length: 5", ""}},
      {"lone lf keeps every character",
       "HTTP/1.0 200 OK\nContent-Length: 5\n\n",
       kDone,
       0,
       true,
       5,
       {"HTTP/1.0 200 OK", "Content-Length: 5", ""}},
      {"no length",
       "HTTP/1.1 200 OK\r\nServer: t\r\n\r\n",
       kDone,
       0,
       false,
       0,
       {"HTTP/1.1 200 OK", "Server: t", ""}},
      {"length without space",
       "HTTP/1.0 200 OK\r\ncontent-length:512\r\n\r\n",
       kDone,
       0,
       true,
       512,
       {"HTTP/1.0 200 OK", "content-length:512", ""}},
      {"length with two spaces",
       "HTTP/1.0 200 OK\r\nCONTENT-LENGTH:  512\r\n\r\n",
       kDone,
       0,
       true,
       512,
       {"HTTP/1.0 200 OK", "CONTENT-LENGTH:  512", ""}},
      {"garbage length is refused",
       "HTTP/1.0 200 OK\r\nContent-Length: 12abc\r\n\r\n",
       kFailed,
       GETHTTP_BAD_HEADER,
       false,
       0,
       {"HTTP/1.0 200 OK", "Content-Length: 12abc"}},
      {"length on the status line is not read",
       "HTTP/1.0 200 Content-Length: 9\r\n\r\n",
       kDone,
       0,
       false,
       0,
       {"HTTP/1.0 200 Content-Length: 9", ""}},
      {"lower-case 404",
       "http/1.1 404 not found\r\nContent-Length: 3\r\n\r\n",
       kFailed,
       404,
       false,
       0,
       {"http/1.1 404 not found", "Content-Length: 3", ""}},
      {"http/1.0 404",
       "HTTP/1.0 404 Not Found\r\n\r\n",
       kFailed,
       404,
       false,
       0,
       {"HTTP/1.0 404 Not Found", ""}},
      {"401",
       "HTTP/1.1 401 Unauthorized\r\n\r\n",
       kFailed,
       401,
       false,
       0,
       {"HTTP/1.1 401 Unauthorized", ""}},
      {"500", "HTTP/1.0 500 Oops\r\n\r\n", kFailed, 500, false, 0, {"HTTP/1.0 500 Oops", ""}},
      {"302",
       "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n",
       kFailed,
       302,
       false,
       0,
       {"HTTP/1.1 302 Found", "Location: /x", ""}},
      {"204 is success",
       "HTTP/1.1 204 No Content\r\n\r\n",
       kDone,
       0,
       false,
       0,
       {"HTTP/1.1 204 No Content", ""}},
      {"malformed status",
       "HTTP/1.1 OK\r\n\r\n",
       kFailed,
       GETHTTP_NOT_HTTP,
       false,
       0,
       {"HTTP/1.1 OK"}},
      {"empty first line",
       "\r\nHTTP/1.0 200 OK\r\n\r\n",
       kFailed,
       GETHTTP_NOT_HTTP,
       false,
       0,
       {""}},
      {"a stray cr is refused",
       "HTTP/1.0 200 OK\r\nX-A: a\rb\r\n\r\n",
       kFailed,
       GETHTTP_BAD_HEADER,
       false,
       0,
       {"HTTP/1.0 200 OK", "X-A: a"}},
      {"empty line as lone cr",
       "HTTP/1.0 200 OK\n\r\n",
       kDone,
       0,
       false,
       0,
       {"HTTP/1.0 200 OK", ""}},
      {"long line cut to 255",
       "HTTP/1.0 200 OK\r\nX-Long: " + long_value + "\r\n\r\n",
       kDone,
       0,
       false,
       0,
       {"HTTP/1.0 200 OK", ("X-Long: " + long_value).substr(0, 255), ""}},
      {"a long length line is read whole",
       "HTTP/1.0 200 OK\r\nContent-Length:" + std::string(250, ' ') + "1234567\r\n\r\n",
       kDone,
       0,
       true,
       1234567,
       {"HTTP/1.0 200 OK", ("Content-Length:" + std::string(250, ' ') + "1234567").substr(0, 255),
        ""}},
      {"header not finished",
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n",
       kMore,
       0,
       true,
       5,
       {"HTTP/1.0 200 OK", "Content-Length: 5"}},
      {"status line not finished", "HTTP/1.0 20", kMore, 0, false, 0, {}},
  };
  // Whole, then in small pieces, then byte by byte: the verdict is the same.
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{4096}, size_t{7}, size_t{1}}) {
      Outcome o = feed(c.step == kDone ? c.bytes + "BODY" : c.bytes, chunk);
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      EXPECT_EQ(o.step, c.step);
      EXPECT_EQ(o.result, c.result);
      EXPECT_EQ(o.has_length, c.has_length);
      EXPECT_EQ(o.length, c.length);
      if (c.step == kFailed && c.result >= 100 && c.result <= 599 && chunk != 4096) {
        // After a failing status only the lines already received are logged.
        ASSERT_FALSE(o.logged.empty());
        ASSERT_LE(o.logged.size(), c.logged.size());
        EXPECT_TRUE(std::equal(o.logged.begin(), o.logged.end(), c.logged.begin()));
      } else {
        EXPECT_EQ(o.logged, c.logged);
      }
      // The parse stops at the empty line, with whatever body bytes came with it.
      if (c.step == kDone) {
        EXPECT_EQ(o.body, std::string("BODY").substr(0, o.body.size()));
        if (chunk == 4096) {
          EXPECT_EQ(o.body, "BODY");
        }
      }
    }
  }
}

// Replies whose framing two readers could take differently, and statuses
// that are not success: each has one verdict, whole or in pieces.
TEST(Header, FramingAndStatusFaults) {
  struct Case {
    const char* name;
    std::string bytes;
    HeaderStep step;
    int32_t result;
    uint64_t length;  // with done: the length read, 0 for none
  };
  const std::string ok = "HTTP/1.0 200 OK\r\n";
  const Case cases[] = {
      {"equal lengths", ok + "Content-Length: 5\r\ncontent-length: 005\r\n\r\n", kDone, 0, 5},
      {"lengths that differ", ok + "Content-Length: 5\r\nContent-Length: 50\r\n\r\n", kFailed,
       GETHTTP_BAD_HEADER, 0},
      {"two values in one line", ok + "Content-Length: 5, 5\r\n\r\n", kFailed, GETHTTP_BAD_HEADER,
       0},
      {"plus sign", ok + "Content-Length: +5\r\n\r\n", kFailed, GETHTTP_BAD_HEADER, 0},
      {"empty length", ok + "Content-Length:\r\n\r\n", kFailed, GETHTTP_BAD_HEADER, 0},
      {"300 leading zeros", ok + "Content-Length: " + std::string(300, '0') + "5\r\n\r\n", kDone, 0,
       5},
      {"length beyond 32 bits", ok + "Content-Length: 5000000000\r\n\r\n", kDone, 0, 5000000000u},
      {"length beyond 64 bits", ok + "Content-Length: 18446744073709551616\r\n\r\n", kFailed,
       GETHTTP_BAD_HEADER, 0},
      {"nul in the length", ok + std::string("Content-Length: 2\0 9\r\n\r\n", 24), kFailed,
       GETHTTP_BAD_HEADER, 0},
      {"nul in another line", ok + std::string("X-A: a\0b\r\n\r\n", 12), kFailed,
       GETHTTP_BAD_HEADER, 0},
      {"nul in the reason", std::string("HTTP/1.0 200 O\0K\r\n\r\n", 20), kFailed,
       GETHTTP_BAD_HEADER, 0},
      {"blank before the colon", ok + "Content-Length : 5\r\n\r\n", kFailed, GETHTTP_BAD_HEADER, 0},
      {"folded length", ok + "Content-Length: 5\r\n 6\r\n\r\n", kFailed, GETHTTP_BAD_HEADER, 0},
      {"folded other line", ok + "X-A: a\r\n b\r\nContent-Length: 1\r\n\r\n", kDone, 0, 1},
      {"other field with the same start", ok + "Content-Lengths: x\r\n\r\n", kDone, 0, 0},
      {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n", kFailed, GETHTTP_UNSUPPORTED_CODING,
       0},
      {"chunked after a length",
       ok + "Content-Length: 5\r\ntransfer-encoding: gzip, chunked\r\n\r\n", kFailed,
       GETHTTP_UNSUPPORTED_CODING, 0},
      {"status 000", "HTTP/1.0 000 X\r\nContent-Length: 1\r\n\r\n", kFailed, GETHTTP_NOT_HTTP, 0},
      {"status 099", "HTTP/1.0 099 X\r\n\r\n", kFailed, GETHTTP_NOT_HTTP, 0},
      {"status 600", "HTTP/1.0 600 X\r\n\r\n", kFailed, GETHTTP_NOT_HTTP, 0},
      {"status 100", "HTTP/1.1 100 Continue\r\n\r\n", kFailed, 100, 0},
      {"status 206", "HTTP/1.1 206 Partial Content\r\nContent-Length: 1\r\n\r\n", kFailed, 206, 0},
      {"status 201", "HTTP/1.1 201 Created\r\n\r\n", kFailed, 201, 0},
      {"status 599", "HTTP/1.1 599 X\r\n\r\n", kFailed, 599, 0},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{4096}, size_t{13}, size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      Outcome o = feed(c.bytes + "BODY", chunk);
      EXPECT_EQ(o.step, c.step);
      EXPECT_EQ(o.result, c.result);
      if (c.step == kDone) {
        EXPECT_EQ(o.has_length, c.length != 0);
        EXPECT_EQ(o.length, c.length);
      }
    }
  }
}

// A reply that cannot be a status line fails as soon as its first bytes show
// it, without waiting for a line end that may never come; the log holds the
// bytes gathered so far.
TEST(Header, AnotherProtocolFailsWithoutALineEnd) {
  Outcome line = feed("SSH-2.0-Server\r\nmore\r\n", 64);
  EXPECT_EQ(line.step, kFailed);
  EXPECT_EQ(line.result, GETHTTP_NOT_HTTP);
  EXPECT_EQ(line.logged, std::vector<std::string>{"SSH-2.0-Server"});
  Outcome whole = feed("220 ready", 64);
  EXPECT_EQ(whole.step, kFailed);
  EXPECT_EQ(whole.result, GETHTTP_NOT_HTTP);
  EXPECT_EQ(whole.logged, std::vector<std::string>{"220 ready"});
  Outcome bytewise = feed("220 ready", 1);
  EXPECT_EQ(bytewise.step, kFailed);
  EXPECT_EQ(bytewise.result, GETHTTP_NOT_HTTP);
  EXPECT_EQ(bytewise.logged, std::vector<std::string>{"2"});
  // "HTTP/1" so far could still be a status line.
  EXPECT_EQ(feed("HTTP/1", 1).step, kMore);
  EXPECT_EQ(feed("HTTP/2", 1).step, kFailed);
}

TEST(Header, BodyStartsRightAfterTheEmptyLine) {
  for (const char* header : {"HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.0 200 OK\n\n"}) {
    std::string bytes = std::string(header) + "\nbody\r\n";
    Outcome o = feed(bytes, bytes.size());
    ASSERT_EQ(o.step, kDone);
    EXPECT_EQ(o.body, "\nbody\r\n");
  }
}

// Damaged headers (bytes replaced, dropped, doubled; CR and LF thrown in)
// fed whole and in random pieces: the verdict, the length and the body's
// start never depend on how the bytes arrived, and no line is longer than
// 255 characters.  Under the sanitizers this also guards every index.
TEST(Header, VerdictDoesNotDependOnTheChunks) {
  const std::string seeds[] = {
      "HTTP/1.0 200 OK\r\nContent-Length: 12\r\nServer: x\r\n\r\nbody",
      "http/1.1 404 Not Found\nContent-Length:3\n\nabc",
      "HTTP/1.1 200 OK\r\nX: " + std::string(400, 'y') + "\r\n\r\n",
  };
  const char noise[] = {'\r', '\n', ' ', ':', '0', '9', 'H', '\0', '\xff'};
  std::mt19937 gen(2024);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = seeds[round % 3];
    int edits = 1 + static_cast<int>(gen() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      size_t at = gen() % bytes.size();
      switch (gen() % 3) {
        case 0:
          bytes[at] = noise[gen() % sizeof noise];
          break;
        case 1:
          bytes.erase(at, 1);
          break;
        default:
          bytes.insert(at, 1, noise[gen() % sizeof noise]);
          break;
      }
    }
    auto run = [&](size_t chunk, bool random_chunks) {
      HeaderParse p{};
      HeaderStep step = HeaderStep::need_more;
      size_t filled = 0;
      while (step == HeaderStep::need_more && filled < bytes.size()) {
        size_t piece = random_chunks ? 1 + gen() % 9 : chunk;
        filled = std::min(bytes.size(), filled + piece);
        step = parse_header(p, reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<uint32_t>(filled), nullptr, nullptr);
        EXPECT_LT(std::strlen(p.header_line), kHeaderLineSize);
      }
      return std::make_tuple(step, p.result, p.has_length, p.declared_length,
                             step == HeaderStep::done ? p.line_position : 0u);
    };
    auto whole = run(bytes.size() + 1, false);
    ASSERT_EQ(run(1, false), whole) << round;
    ASSERT_EQ(run(0, true), whole) << round;
  }
}

}  // namespace
}  // namespace rz::http
