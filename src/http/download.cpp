#include "http/download.h"

#include <cstdio>
#include <cstring>

#include "frame/progress.h"
#include "http/request.h"
#include "http/response.h"
#include "http/results.h"
#include "platform/file.h"
#include "platform/net.h"
#include "platform/profile.h"

namespace rz::http {

namespace {

constexpr uint32_t kChunkSize = 1024;
constexpr uint16_t kDefaultHttpPort = 80;
constexpr char kLogSection[] = "result";

// The process-wide part of a download: the receive area (the response
// header gathered over its chunks, then each later chunk), the parse, and
// the last header-log key handed out.
struct DownloadBuffers {
  unsigned char receive[kHeaderLimit];
  HeaderParse parse;
  bool key_used;
  uint32_t last_key;
};

DownloadBuffers& buffers() {
  static DownloadBuffers b;
  return b;
}

// The per-call copies of the host's texts and what is built from them.
struct Call {
  char host[kFieldSize];
  char path[kFieldSize];
  char output[kFieldSize];
  char user[kFieldSize];
  char password[kFieldSize];
  char peer[kFieldSize];  // the host connected to: the server, or the proxy
  char target[kFieldSize];
  char credentials[kCredentialsCapacity];
  char request[kRequestSize];
  uint32_t request_length;
  bool log_headers;
  uint32_t log_key;
};

// Copy text (null taken as "") into a field; -1 when it does not fit.
int copy_field(char* field, const char* text) {
  if (!text) text = "";
  size_t n = std::strlen(text);
  if (n >= kFieldSize) return -1;
  std::memcpy(field, text, n + 1);
  return 0;
}

// Check and copy every text and build the request, before anything is
// looked up or sent.  Returns 0 or kTooLong.
int32_t prepare(const DownloadArgs& a, Call& c) {
  if (copy_field(c.host, a.host) || copy_field(c.path, a.path) || copy_field(c.output, a.output) ||
      copy_field(c.user, a.user) || copy_field(c.password, a.password) ||
      copy_field(c.peer, a.proxy ? a.proxy_host : a.host))
    return kTooLong;
  c.credentials[0] = 0;
  if (c.user[0] && c.password[0])
    encode_credentials(c.user, c.password, c.credentials, kCredentialsCapacity);
  if (a.proxy) {
    // A proxy takes the absolute URL; the Host line then stays empty.
    if (format_proxy_target(c.host, c.path, c.target, kFieldSize) != 0) return kTooLong;
    c.host[0] = 0;
  } else {
    std::memcpy(c.target, c.path, std::strlen(c.path) + 1);
  }
  const char* agent = a.user_agent ? a.user_agent : "";
  if (format_request(c.target, c.host, c.credentials, agent, c.request, kRequestSize,
                     &c.request_length) != 0)
    return kTooLong;
  c.log_headers = a.log_headers;
  return kOk;
}

// The address of the peer: a dotted address as it stands, otherwise the
// first address the lookup gives.  Returns 0 or kLookupFailed plus the
// resolver's error number.
int32_t resolve_peer(const char* name, uint32_t* address) {
  if (rz::plat::net_parse_address(name, address)) return kOk;
  int error = rz::plat::net_lookup_host(name, address);
  if (error == 0) return kOk;
  // Keep the sum within 32 bits whatever the resolver reports.
  constexpr int kMaxError = 0x7fffffff - kLookupFailed;
  if (error < 1) error = 1;
  if (error > kMaxError) error = kMaxError;
  return kLookupFailed + error;
}

// The port asked for, or when it is 0 the "http" service's port, then 80.
uint16_t choose_port(uint32_t asked) {
  auto port = static_cast<uint16_t>(asked & 0xffff);
  if (port) return port;
  port = rz::plat::net_service_port("http", "tcp");
  return port ? port : kDefaultHttpPort;
}

// Keys follow the tick count taken at the start of each download, and never
// fall back onto keys this process has written already.
uint32_t first_log_key() {
  DownloadBuffers& b = buffers();
  uint32_t key = rz::plat::net_now_ms();
  if (b.key_used && static_cast<int32_t>(key - b.last_key) < 0) key = b.last_key;
  return key;
}

// One header-log entry per header line; a failed write loses only the log.
void log_header_line(void* context, const char* line) {
  auto* c = static_cast<Call*>(context);
  if (!c->log_headers) return;
  DownloadBuffers& b = buffers();
  ++c->log_key;
  b.last_key = c->log_key;
  b.key_used = true;
  char key[16];
  std::snprintf(key, sizeof key, "%i", static_cast<int32_t>(c->log_key));
  rz::plat::profile_write_string(kLogSection, key, line, header_log_path());
}

// Wait up to the stall time for data or the end of the stream.  Signals may
// cut a wait short; the clock decides when the time is over.
int wait_for_data(rz::plat::SocketHandle socket) {
  uint32_t stall = stall_time();
  uint32_t start = rz::plat::net_now_ms();
  for (;;) {
    uint32_t elapsed = rz::plat::net_now_ms() - start;
    if (elapsed >= stall) return rz::plat::kNetWaitOver;
    int r = rz::plat::net_wait_readable(socket, stall - elapsed);
    if (r != rz::plat::kNetWaitOver) return r;
  }
}

// Progress in units of 1000 bytes of the announced length, the body's share
// of it done.  Without an announced length (or before the header is read)
// the report is 0 percent: the host still gets its pump and its cancel.
void set_progress(bool sized, uint32_t declared, uint64_t written) {
  ProgressChannel& pc = progress_channel();
  if (!sized) {
    pc.progress_total = 1;
    pc.progress_done = 0;
    return;
  }
  uint32_t total = declared / 1000 ? declared / 1000 : 1;
  pc.progress_total = static_cast<int32_t>(total);
  pc.progress_done = static_cast<int32_t>(declared ? written * total / declared : total);
}

// Where the body of one chunk lies, once the header is behind.
struct Chunk {
  const unsigned char* data;
  uint32_t length;
};

}  // namespace

namespace {

// The receiving side of one download.
struct Receiver {
  rz::plat::SocketHandle socket;
  rz::plat::FileHandle file;
  Call* call;
  uint32_t filled;  // header bytes gathered in the receive area
  bool in_header;
  uint64_t written;  // body bytes in the file
};

// Receive one chunk of at most 1024 bytes: header chunks go behind the
// bytes gathered so far, body chunks to the start of the receive area.
// Returns kOk with *n the count (0 when the server closed) or
// kReceiveFailed, also when nothing came for the stall time.
int32_t receive_chunk(Receiver& r, unsigned char** into, int32_t* n) {
  DownloadBuffers& b = buffers();
  uint32_t room = kChunkSize;
  *into = b.receive;
  if (r.in_header) {
    *into = b.receive + r.filled;
    if (kHeaderLimit - r.filled < room) room = kHeaderLimit - r.filled;
  }
  if (wait_for_data(r.socket) != rz::plat::kNetReady) return kReceiveFailed;
  int32_t got = rz::plat::net_receive(r.socket, *into, room);
  if (got < 0 || static_cast<uint32_t>(got) > room) return kReceiveFailed;
  *n = got;
  return kOk;
}

// Feed the chunk just gathered to the header parse.  Returns kOk with the
// body bytes that followed the header in *body (none while the header goes
// on), or the parse's verdict.  A header that outgrows the receive area is
// no header this client accepts.
int32_t take_header_chunk(Receiver& r, uint32_t n, Chunk* body) {
  DownloadBuffers& b = buffers();
  r.filled += n;
  body->data = b.receive;
  body->length = 0;
  HeaderStep step = parse_header(b.parse, b.receive, r.filled, log_header_line, r.call);
  if (step == HeaderStep::failed) return b.parse.result;
  if (step == HeaderStep::need_more) return r.filled >= kHeaderLimit ? kNotHttp : kOk;
  r.in_header = false;
  body->data = b.receive + b.parse.line_position;
  body->length = r.filled - b.parse.line_position;
  return kOk;
}

// Write body bytes, never beyond the announced length: bytes a server sends
// past it are not part of the body.  Returns kOk or kWriteFailed.
int32_t write_body(Receiver& r, Chunk body) {
  const HeaderParse& p = buffers().parse;
  if (p.has_length) {
    uint64_t left = p.declared_length - r.written;
    if (body.length > left) body.length = static_cast<uint32_t>(left);
  }
  if (body.length == 0) return kOk;
  int32_t put = rz::plat::file_write(r.file, body.data, body.length);
  if (put > 0) r.written += static_cast<uint32_t>(put) < body.length ? put : body.length;
  return put == static_cast<int32_t>(body.length) ? kOk : kWriteFailed;
}

// The verdict when the server closes the connection.
int32_t end_of_stream(const Receiver& r) {
  const HeaderParse& p = buffers().parse;
  if (r.in_header) return kNotHttp;
  if (p.has_length && r.written < p.declared_length) return kBodyShort;
  return kOk;
}

// The receive loop: the header, then the body, with a progress report after
// every chunk that did not end the download.  Ends at the announced length,
// or when the server closes.
int32_t receive_response(Receiver& r) {
  HeaderParse& p = buffers().parse;
  p = HeaderParse{};
  for (;;) {
    unsigned char* into = nullptr;
    int32_t n = 0;
    int32_t rc = receive_chunk(r, &into, &n);
    if (rc != kOk) return rc;
    if (n == 0) return end_of_stream(r);
    Chunk body{into, static_cast<uint32_t>(n)};
    if (r.in_header && (rc = take_header_chunk(r, static_cast<uint32_t>(n), &body)) != kOk)
      return rc;
    if ((rc = write_body(r, body)) != kOk) return rc;
    set_progress(!r.in_header && p.has_length, p.declared_length, r.written);
    if (!report_progress()) return kCancelled;
    if (!r.in_header && p.has_length && r.written == p.declared_length) return kOk;
  }
}

// Connect, send the request, create the output file and receive into it.
// The caller closes the socket.
int32_t exchange(rz::plat::SocketHandle socket, uint32_t address, uint16_t port, Call& c) {
  if (rz::plat::net_connect(socket, address, port) != 0) return kNoConnect;
  if (rz::plat::net_send_all(socket, c.request, c.request_length) != 0) return kSendFailed;
  rz::plat::FileHandle file = rz::plat::file_create_rw(c.output);
  if (file == rz::plat::kNoFile) return kCannotCreate;
  Receiver r{socket, file, &c, 0, true, 0};
  int32_t rc = receive_response(r);
  if (rz::plat::file_close(file) != 0 && rc == kOk) rc = kWriteFailed;
  return rc;
}

}  // namespace

int32_t download(const DownloadArgs& a) {
  ProgressChannel& pc = progress_channel();
  pc.progress_done = 0;
  pc.progress_total = 0;
  Call c;
  int32_t rc = prepare(a, c);
  if (rc != kOk) return rc;
  c.log_key = first_log_key();
  uint32_t address = 0;
  rc = resolve_peer(c.peer, &address);
  if (rc != kOk) return rc;
  rz::plat::SocketHandle socket = rz::plat::net_open_stream();
  if (socket == rz::plat::kNoSocket) return kNoSocket;
  rc = exchange(socket, address, choose_port(a.proxy ? a.proxy_port : a.port), c);
  rz::plat::net_close(socket);
  return rc;
}

}  // namespace rz::http
