// One HTTP/1.0 download into a file, and the host's settings for it.
#pragma once

#include <cstdint>

namespace rz::http {

// The arguments of one download, as the host gives them.
struct DownloadArgs {
  const char* host;        // server name or dotted IPv4 address
  const char* path;        // request target, sent as it stands
  const char* output;      // file that receives the body
  uint32_t port;           // direct mode; low 16 bits, 0 for the "http" service
  const char* user;        // "" for none
  const char* password;    // "" for none
  bool proxy;              // send the absolute URL to proxy_host
  const char* proxy_host;  // name or dotted address of the proxy
  uint32_t proxy_port;     // low 16 bits, 0 for the "http" service
  bool log_headers;        // write each response header line to the header log
  const char* user_agent;  // the User-Agent line's text
};

// Run one download.  Returns 0 when the body is in the file, otherwise a
// result code of results.h or the HTTP status other than 200 and 204.
// Stages run in this order: checks of every text, lookup, socket, connect,
// request, temporary file, header, body, and the temporary file renamed over
// the output file.  Every failure leaves an existing output file as it was
// and removes the temporary file.
// Not re-entrant: one download at a time in the process.
int32_t download(const DownloadArgs& args);

// The host's settings, process-wide.
constexpr uint32_t kDefaultStallMs = 60000;
constexpr uint32_t kHeaderLogPathSize = 4096;

// Milliseconds without a byte after which a download ends with 5055; 0
// restores the default.
void set_stall_time(uint32_t milliseconds);
uint32_t stall_time();

// The header log file; null or "" restores the default.  Returns 0, or -1
// (nothing changed) when the path does not fit kHeaderLogPathSize.
int set_header_log_path(const char* path);
const char* header_log_path();

}  // namespace rz::http
