// Fuzz target for the download's response side.  Built with libFuzzer it
// takes inputs from the fuzzer; otherwise it is a plain program that replays
// the files (or the files of the folders) named on its command line, which is
// how CTest runs the seed corpus.
//
// An input's first byte picks how the reply is cut into pieces, its second
// whether an output file exists before the download; the rest is the reply.
// A server on 127.0.0.1 in this process sends the reply in those pieces and
// closes (driven from the net seam on the download's thread), and every
// receive of the download is held to the next piece, so the parse sees
// exactly that split.  Checked, any failure aborts:
// - the header parse over the whole reply, over the pieces and byte by byte
//   reaches the same verdict, length and body start;
// - GETHTTP returns what that verdict implies;
// - success means the output file is the body (cut at the announced
//   length), and any other result leaves an existing output file byte for
//   byte as it was; no temporary file ever stays behind.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "http/response.h"
#include "platform/net.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#define RZ_FUZZ_OWN_MAIN
#include "replay_main.h"

namespace {

namespace plat = rz::plat;
using rz::http::HeaderParse;
using rz::http::HeaderStep;
using rz::http::kHeaderLimit;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "http_fuzz: invariant broken: %s\n", what);
  std::abort();
}

// The piece sizes of one input: a small generator seeded by the first byte.
struct Pieces {
  uint32_t state;
  uint32_t largest;
  explicit Pieces(uint8_t seed) : state(0x9e3779b9u ^ (seed * 0x01000193u)) {
    static const uint32_t kLargest[] = {1, 2, 3, 7, 16, 100, 1500, 65536};
    largest = kLargest[seed % 8];
  }
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return 1 + state % largest;
  }
};

// ---- The header parse alone ---------------------------------------------

struct Verdict {
  HeaderStep step;
  int32_t result;
  int32_t status;
  bool has_length;
  uint64_t length;
  uint32_t body_start;
  bool operator==(const Verdict&) const = default;
};

void ignore_line(void*, const char* line) {
  if (std::strlen(line) >= rz::http::kHeaderLineSize) fail("a logged line is too long");
}

// The parse over the first kHeaderLimit bytes, gathered in pieces of the
// given sizes (0: all at once), as the download gathers them.
Verdict parse_in_pieces(const std::string& reply, Pieces* pieces) {
  HeaderParse p{};
  auto size = static_cast<uint32_t>(reply.size() < kHeaderLimit ? reply.size() : kHeaderLimit);
  const auto* data = reinterpret_cast<const unsigned char*>(reply.data());
  HeaderStep step = HeaderStep::need_more;
  uint32_t filled = 0;
  while (step == HeaderStep::need_more && filled < size) {
    uint32_t piece = pieces ? pieces->next() : size;
    filled = size - filled < piece ? size : filled + piece;
    step = rz::http::parse_header(p, data, filled, ignore_line, nullptr);
  }
  if (step == HeaderStep::failed && p.result == 0) fail("a failed parse without a result");
  return Verdict{step,         p.result,          step == HeaderStep::need_more ? 0 : p.status,
                 p.has_length, p.declared_length, step == HeaderStep::done ? p.line_position : 0u};
}

// ---- The server and the receive seam ------------------------------------

struct Fixture {
  int listener = -1;
  uint16_t port = 0;
  std::string dir;
  std::string out;
};

Fixture& fixture() {
  static Fixture f = [] {
    Fixture x;
    x.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (x.listener < 0 || ::bind(x.listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(x.listener, 8) != 0 ||
        ::getsockname(x.listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      fail("no listening socket on 127.0.0.1");
    x.port = ntohs(a.sin_port);
    char tmpl[] = "/tmp/rz-http-fuzz.XXXXXX";
    if (!::mkdtemp(tmpl)) fail("no scratch folder");
    x.dir = tmpl;
    x.out = x.dir + "/out.bin";
    return x;
  }();
  return f;
}

// The server side of one download.  It runs on the download's own thread,
// driven from the net seam: the connect is accepted at once, and once the
// whole request has been sent the reply goes out in its pieces and the
// server's end is closed.  No thread is needed, so no scheduling delay sets
// the pace; the socket buffers hold every reply the fuzzer makes.
struct Server {
  int fd = -1;
  const std::string* reply = nullptr;
  uint8_t seed = 0;
  std::string request;
};
Server g_server;

void close_server() {
  if (g_server.fd >= 0) ::close(g_server.fd);
  g_server.fd = -1;
}

// Reads what the client sent so far; once the empty line has come, sends
// the reply in pieces and closes (a client that has gone makes sends fail,
// never raise a signal).
void serve_when_asked() {
  char buf[1024];
  // Loopback hands the bytes over within the send; the wait only bounds a
  // slow handover.
  while (g_server.request.find("\r\n\r\n") == std::string::npos) {
    pollfd p{g_server.fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) return;
    ssize_t n = ::recv(g_server.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) return;
    g_server.request.append(buf, static_cast<size_t>(n));
  }
  const std::string& reply = *g_server.reply;
  Pieces pieces(g_server.seed);
  for (size_t at = 0; at < reply.size();) {
    size_t n = pieces.next();
    if (n > reply.size() - at) n = reply.size() - at;
    if (::send(g_server.fd, reply.data() + at, n, MSG_NOSIGNAL) < 0) break;
    at += n;
  }
  close_server();
}

int connect_and_accept(plat::SocketHandle s, uint32_t address, uint16_t port) {
  int rc = plat::native_net_ops().connect(s, address, port);
  if (rc != 0) return rc;
  g_server.fd = ::accept4(fixture().listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (g_server.fd < 0) fail("the server could not accept");
  int one = 1, buffer = 1 << 20;
  ::setsockopt(g_server.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(g_server.fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  return 0;
}

int32_t send_and_serve(plat::SocketHandle s, const void* data, uint32_t n) {
  int32_t put = plat::native_net_ops().send(s, data, n);
  if (put > 0 && g_server.fd >= 0) serve_when_asked();
  return put;
}

Pieces g_receive_pieces(0);

// Each receive of the download takes at most the next piece.
int32_t receive_in_pieces(plat::SocketHandle s, void* buffer, uint32_t n) {
  uint32_t piece = g_receive_pieces.next();
  return plat::native_net_ops().receive(s, buffer, n < piece ? n : piece);
}

const plat::NetOps& piece_ops() {
  static const plat::NetOps ops = [] {
    plat::NetOps o = plat::native_net_ops();
    o.connect = connect_and_accept;
    o.send = send_and_serve;
    o.receive = receive_in_pieces;
    return o;
  }();
  return ops;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The names in the scratch folder besides the output file.
int strangers(const Fixture& f) {
  int n = 0;
  DIR* d = ::opendir(f.dir.c_str());
  if (!d) fail("scratch folder gone");
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != ".." && name != "out.bin") ++n;
  }
  ::closedir(d);
  return n;
}

// What GETHTTP must return and write for a reply whose whole-reply verdict
// is v.  *body is the file's bytes on success.
int32_t expected_result(const Verdict& v, const std::string& reply, std::string* body) {
  if (v.step == HeaderStep::failed) return v.result;
  if (v.step == HeaderStep::need_more)
    return reply.size() >= kHeaderLimit ? GETHTTP_NOT_HTTP : GETHTTP_HEADER_SHORT;
  std::string rest = reply.substr(v.body_start);
  if (v.status == 204) {
    body->clear();
    return 0;
  }
  if (v.has_length && rest.size() < v.length) return GETHTTP_BODY_SHORT;
  *body = v.has_length ? rest.substr(0, static_cast<size_t>(v.length)) : rest;
  return 0;
}

void check_download(const std::string& reply, uint8_t seed, bool existing, const Verdict& v) {
  Fixture& f = fixture();
  const std::string previous = "the file from before\n";
  if (existing) {
    std::ofstream(f.out, std::ios::binary | std::ios::trunc) << previous;
  } else {
    std::remove(f.out.c_str());
  }
  g_receive_pieces = Pieces(static_cast<uint8_t>(seed ^ 0x5a));
  g_server = Server{-1, &reply, seed, {}};
  plat::set_net_ops(&piece_ops());
  int32_t rc = GETHTTP("127.0.0.1", "/f", f.out.c_str(), 0, 0, f.port, "", "", 0, "", 0, 0, "fuzz");
  plat::set_net_ops(nullptr);
  close_server();

  std::string body;
  if (rc != expected_result(v, reply, &body)) {
    std::fprintf(stderr, "GETHTTP %d, verdict step %d result %d\n", rc, static_cast<int>(v.step),
                 v.result);
    fail("GETHTTP's result differs from the verdict on the whole reply");
  }
  if (strangers(f) != 0) fail("a temporary file stayed behind");
  bool exists = ::access(f.out.c_str(), F_OK) == 0;
  if (rc == 0) {
    if (!exists || read_all(f.out) != body) fail("success, but the file is not the body");
  } else if (existing) {
    if (!exists || read_all(f.out) != previous) fail("a failure changed the existing file");
  } else if (exists) {
    fail("a failure left an output file");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static bool started = [] {
    rz_host_set_stall_time(5000);  // the server always closes; this only bounds a fault
    return WEBSTARTUP() == 0;
  }();
  if (!started) fail("the socket library would not start");
  uint8_t seed = data[0];
  bool existing = (data[1] & 1) != 0;
  std::string reply(reinterpret_cast<const char*>(data + 2), size - 2);

  Verdict whole = parse_in_pieces(reply, nullptr);
  Pieces pieces(seed);
  Pieces single(0);  // largest piece 1: byte by byte
  if (!(parse_in_pieces(reply, &pieces) == whole)) fail("the verdict depends on the pieces");
  if (reply.size() <= 4096 && !(parse_in_pieces(reply, &single) == whole))
    fail("the verdict byte by byte differs");
  check_download(reply, seed, existing, whole);
  return 0;
}

#ifndef RZ_LIBFUZZER
int main(int argc, char** argv) {
  int replayed = rz_fuzz::replay(argc, argv);
  std::filesystem::remove_all(fixture().dir);
  return replayed > 0 ? 0 : 1;
}
#endif
