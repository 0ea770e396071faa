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

// One receive takes up to this much; the header is gathered in the same area.
constexpr uint32_t kReceiveSize = 65536;
constexpr uint16_t kDefaultHttpPort = 80;
constexpr char kLogSection[] = "result";
// Room for the output path and the suffix of its temporary file.
constexpr uint32_t kTempPathSize = kFieldSize + 24;
constexpr int kTempAttempts = 100;
constexpr uint32_t kLoggedLines = 128;

// The process-wide part of a download: the receive area (the response
// header gathered over its chunks, then each later chunk), the parse, and
// the last header-log key handed out.
struct DownloadBuffers {
  unsigned char receive[kReceiveSize];
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
  char host_value[kFieldSize];  // the Host line of a direct request
  char credentials[kCredentialsCapacity];
  char request[kRequestSize];
  char temp[kTempPathSize];  // the file receiving the body, "" until created
  uint32_t request_length;
  uint16_t port;
  bool log_headers;
  uint32_t logged_lines;
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

// The port asked for, or when it is 0 the "http" service's port, then 80.
uint16_t choose_port(uint32_t asked) {
  auto port = static_cast<uint16_t>(asked & 0xffff);
  if (port) return port;
  port = rz::plat::net_service_port("http", "tcp");
  return port ? port : kDefaultHttpPort;
}

// Check and copy every text and build the request, before anything is
// looked up or sent.  Returns 0, kTooLong or kBadText.
int32_t prepare(const DownloadArgs& a, Call& c) {
  if (copy_field(c.host, a.host) || copy_field(c.path, a.path) || copy_field(c.output, a.output) ||
      copy_field(c.user, a.user) || copy_field(c.password, a.password) ||
      copy_field(c.peer, a.proxy ? a.proxy_host : a.host))
    return kTooLong;
  const char* agent = a.user_agent ? a.user_agent : "";
  // A CR or LF would let a caller's text add lines to the request.
  if (!is_request_safe(c.path, false) || !is_request_safe(c.host, false) ||
      !is_request_safe(agent, true))
    return kBadText;
  c.credentials[0] = 0;
  if (c.user[0] && c.password[0])
    encode_credentials(c.user, c.password, c.credentials, kCredentialsCapacity);
  c.port = choose_port(a.proxy ? a.proxy_port : a.port);
  const char* host_line = nullptr;
  if (a.proxy) {
    // A proxy takes the absolute URL; the Host line then stays empty.
    if (format_proxy_target(c.host, c.path, c.target, kFieldSize) != 0) return kTooLong;
  } else {
    std::memcpy(c.target, c.path, std::strlen(c.path) + 1);
    if (format_host_value(c.host, c.port, c.host_value, kFieldSize) != 0) return kTooLong;
    host_line = c.host_value;
  }
  if (format_request(c.target, host_line, c.credentials, agent, c.request, kRequestSize,
                     &c.request_length) != 0)
    return kTooLong;
  c.log_headers = a.log_headers;
  c.logged_lines = 0;
  c.temp[0] = 0;
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

// Keys follow the tick count taken at the start of each download, and never
// fall back onto keys this process has written already.
uint32_t first_log_key() {
  DownloadBuffers& b = buffers();
  uint32_t key = rz::plat::net_now_ms();
  if (b.key_used && static_cast<int32_t>(key - b.last_key) < 0) key = b.last_key;
  return key;
}

// One header-log entry per header line, for the first kLoggedLines lines of
// a reply: each entry rewrites the log file, and a header of thousands of
// short lines would otherwise take many seconds.  A failed write loses only
// the log.
void log_header_line(void* context, const char* line) {
  auto* c = static_cast<Call*>(context);
  if (!c->log_headers || c->logged_lines >= kLoggedLines) return;
  ++c->logged_lines;
  DownloadBuffers& b = buffers();
  ++c->log_key;
  b.last_key = c->log_key;
  b.key_used = true;
  char key[16];
  std::snprintf(key, sizeof key, "%i", static_cast<int32_t>(c->log_key));
  rz::plat::profile_write_string(kLogSection, key, line, header_log_path());
}

// Progress in units of 1000 bytes of the announced length, the body's share
// of it done; a length beyond 32 bits takes larger units, so the total fits
// the channel's counter.  Without an announced length (or before the header
// is read) the report is 0 percent: the host still gets its pump and its
// cancel.
void set_progress(bool sized, uint64_t declared, uint64_t written) {
  ProgressChannel& pc = progress_channel();
  if (!sized) {
    pc.progress_total = 1;
    pc.progress_done = 0;
    return;
  }
  uint64_t unit = 1000;
  while (declared / unit > 0x7fffffffu) unit *= 2;
  uint64_t total = declared / unit ? declared / unit : 1;
  uint64_t done = total;
  if (written < declared) {
    // Below 2^32 the product cannot overflow; above, the units are coarse.
    done = declared <= 0xffffffffu ? written * total / declared : written / unit;
    if (done > total) done = total;
  }
  pc.progress_total = static_cast<int32_t>(total);
  pc.progress_done = static_cast<int32_t>(done);
}

// Where the body of one chunk lies, once the header is behind.
struct Chunk {
  const unsigned char* data;
  uint32_t length;
};

// The receiving side of one download.
struct Receiver {
  rz::plat::SocketHandle socket;
  rz::plat::FileHandle file;
  Call* call;
  uint32_t filled;  // header bytes gathered in the receive area
  bool in_header;
  bool limit_cut;    // a signal shortened the socket's time limit
  uint64_t written;  // body bytes in the file
};

// After a signal cut a wait short: let a cancel waiting in the host's queue
// through, and wait out only what is left of the stall time.  Returns kOk
// to receive again, or the verdict.
int32_t after_interruption(Receiver& r, uint32_t started) {
  if (!report_progress()) return kCancelled;
  uint32_t stall = stall_time();
  uint32_t elapsed = rz::plat::net_now_ms() - started;
  if (elapsed >= stall) return kStalled;
  if (rz::plat::net_set_receive_timeout(r.socket, stall - elapsed) != 0) return kReceiveFailed;
  r.limit_cut = true;
  return kOk;
}

// Receive one chunk of at most 64 KiB: header chunks go behind the bytes
// gathered so far, body chunks to the start of the receive area.  The
// socket's time limit ends a stall.  Returns kOk with *n the count (0 when
// the server closed), kStalled, kReceiveFailed or kCancelled.
int32_t receive_chunk(Receiver& r, unsigned char** into, int32_t* n) {
  DownloadBuffers& b = buffers();
  uint32_t room = kReceiveSize;
  *into = b.receive;
  if (r.in_header) {
    *into = b.receive + r.filled;
    room = kReceiveSize - r.filled;
  }
  uint32_t started = rz::plat::net_now_ms();
  for (;;) {
    int32_t got = rz::plat::net_receive(r.socket, *into, room);
    if (got == rz::plat::kNetTimedOut) return kStalled;
    if (got == rz::plat::kNetInterrupted) {
      int32_t rc = after_interruption(r, started);
      if (rc != kOk) return rc;
      continue;
    }
    if (got < 0 || static_cast<uint32_t>(got) > room) return kReceiveFailed;
    if (r.limit_cut) {
      if (rz::plat::net_set_receive_timeout(r.socket, stall_time()) != 0) return kReceiveFailed;
      r.limit_cut = false;
    }
    *n = got;
    return kOk;
  }
}

// Feed the chunk just gathered to the header parse.  Returns kOk with the
// body bytes that followed the header in *body (none while the header goes
// on), or the parse's verdict.  Only the first kHeaderLimit bytes can hold
// the header, however the bytes were cut into chunks.
int32_t take_header_chunk(Receiver& r, uint32_t n, Chunk* body) {
  DownloadBuffers& b = buffers();
  HeaderParse& p = b.parse;
  r.filled += n;
  body->data = b.receive;
  body->length = 0;
  uint32_t seen = r.filled < kHeaderLimit ? r.filled : kHeaderLimit;
  HeaderStep step = parse_header(p, b.receive, seen, log_header_line, r.call);
  if (step == HeaderStep::failed) return p.result != kOk ? p.result : kNotHttp;
  if (step == HeaderStep::need_more) return seen >= kHeaderLimit ? kNotHttp : kOk;
  r.in_header = false;
  if (p.status == 204) {
    // No content, whatever the server says or sends after the header.
    p.has_length = true;
    p.declared_length = 0;
  }
  body->data = b.receive + p.line_position;
  body->length = r.filled - p.line_position;
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
  if (r.in_header) return kHeaderShort;
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

// Create the file that receives the body: a new file beside the output
// file, made exclusively (never through a link planted under its name), so
// the output file is replaced only once the download succeeded.  An output
// path that names a folder is refused before anything is received.
int32_t create_temp(Call& c, rz::plat::FileHandle* file) {
  int64_t attributes = rz::plat::file_get_attributes(c.output);
  if (attributes >= 0 && (attributes & rz::plat::kAttrDirectory)) return kCannotCreate;
  uint32_t seed = rz::plat::net_now_ms() ^ c.log_key;
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    std::snprintf(c.temp, kTempPathSize, "%s.%08x.part", c.output, static_cast<unsigned>(seed));
    *file = rz::plat::file_create_new(c.temp);
    if (*file != rz::plat::kNoFile) return kOk;
  }
  c.temp[0] = 0;
  return kCannotCreate;
}

// Close the body's file, then put it in place of the output file after a
// success or remove it after anything else.  Returns the final result.
int32_t finish_file(Call& c, rz::plat::FileHandle file, int32_t rc) {
  if (rz::plat::file_close(file) != 0 && rc == kOk) rc = kWriteFailed;
  if (rc == kOk && rz::plat::file_rename_replace(c.temp, c.output) != 0) rc = kCannotCreate;
  if (rc != kOk) rz::plat::file_remove(c.temp);
  c.temp[0] = 0;
  return rc;
}

// Connect, send the request, create the body's file and receive into it.
// The caller closes the socket.
int32_t exchange(rz::plat::SocketHandle socket, uint32_t address, Call& c) {
  if (rz::plat::net_connect(socket, address, c.port) != 0) return kNoConnect;
  // Set once: every receive then ends a stall by itself.
  if (rz::plat::net_set_receive_timeout(socket, stall_time()) != 0) return kReceiveFailed;
  if (rz::plat::net_send_all(socket, c.request, c.request_length) != 0) return kSendFailed;
  rz::plat::FileHandle file = rz::plat::kNoFile;
  int32_t rc = create_temp(c, &file);
  if (rc != kOk) return rc;
  Receiver r{socket, file, &c, 0, true, false, 0};
  return finish_file(c, file, receive_response(r));
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
  rc = exchange(socket, address, c);
  rz::plat::net_close(socket);
  return rc;
}

}  // namespace rz::http
