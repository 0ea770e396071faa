// qg get: download one http:// URL into a file with GETHTTP.
//
// Exit status: 0 saved; 1 the server answered with an error status; 2 bad
// command line, URL or a text too long for the request; 3 network failure
// (lookup, connect, send, receive, stall); 4 the output file could not be
// created or written; 5 the reply was cut short or is not HTTP; 130
// cancelled with Ctrl-C.
#include <netdb.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "commands.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "terminal_host.h"

#ifndef QG_VERSION
#define QG_VERSION "dev"
#endif

namespace {

struct GetArgs {
  std::string url;
  std::string output;
  std::string proxy;
  std::string user;
  std::string user_agent = "qg/" QG_VERSION " (raziza3z)";
  bool log_headers = false;
  std::string header_log;
  unsigned timeout_seconds = 60;
};

// The parts of an http:// URL.
struct Url {
  std::string host;       // name or dotted address
  std::string authority;  // host[:port], as the absolute URL carries it
  uint32_t port = 0;      // 0: the default
  std::string path;       // from the first "/" on, without a fragment
};

bool starts_with_nocase(const std::string& s, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  }
  return true;
}

// A decimal port 1-65535; false for anything else.
bool parse_port(const std::string& text, uint32_t* port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v == 0 || v > 65535) return false;
  *port = v;
  return true;
}

bool refuse(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

// "host[:port]" into host and port; false with a message when malformed.
bool split_host_port(const std::string& text, std::string* host, uint32_t* port,
                     std::string* error) {
  size_t colon = text.rfind(':');
  *host = text.substr(0, colon);
  *port = 0;
  if (host->empty()) return refuse(error, "no host name in \"" + text + "\"");
  if (host->find_first_of("[]@:") != std::string::npos)
    return refuse(error, "only a host name or an IPv4 address is supported: \"" + text + "\"");
  if (colon != std::string::npos && !parse_port(text.substr(colon + 1), port))
    return refuse(error, "bad port in \"" + text + "\"");
  return true;
}

// http://host[:port][/path][?query][#fragment]; false with a message.
bool parse_url(const std::string& text, Url* url, std::string* error) {
  if (starts_with_nocase(text, "https://"))
    return refuse(error, "https:// is not supported: only http:// URLs can be fetched");
  if (!starts_with_nocase(text, "http://")) return refuse(error, "not an http:// URL: " + text);
  std::string rest = text.substr(7);
  rest = rest.substr(0, rest.find('#'));  // a fragment never goes to the server
  size_t slash = rest.find_first_of("/?");
  url->authority = rest.substr(0, slash);
  url->path = slash == std::string::npos ? "/" : rest.substr(slash);
  if (url->path[0] == '?') url->path = "/" + url->path;
  if (url->authority.find('@') != std::string::npos)
    return refuse(error, "put the user name and password in --user, not in the URL");
  return split_host_port(url->authority, &url->host, &url->port, error);
}

// ---- Progress on the terminal ----------------------------------------

struct Progress {
  std::string output;
  bool bar = false;  // stderr is a terminal
  uint32_t progress_message = 0;
  uint32_t cancel_message = 0;
  bool size_known = false;  // a percentage above 0 has been reported
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point last_draw;
};

Progress* g_progress = nullptr;

long long file_size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

std::string human_bytes(double n) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (n >= 1024 && u < 4) {
    n /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, u ? "%.1f %s" : "%.0f %s", n, units[u]);
  return text;
}

// Redrawn at most ten times a second, and always at 100 percent.  The
// library writes each chunk before it reports, so the file's size is the
// count received.
void draw(Progress& p, long percent, bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && now - p.last_draw < std::chrono::milliseconds(100)) return;
  p.last_draw = now;
  double seconds = std::chrono::duration<double>(now - p.start).count();
  double bytes = static_cast<double>(file_size(p.output));
  std::string line = "\r" + human_bytes(bytes);
  if (seconds > 0.05) line += "  " + human_bytes(bytes / seconds) + "/s";
  if (p.size_known) line += "  " + std::to_string(percent) + "%";
  std::fprintf(stderr, "%-60s", line.c_str());
  std::fflush(stderr);
}

intptr_t window_proc(void*, RZ_HWND, uint32_t message, uintptr_t, intptr_t lparam) {
  Progress* p = g_progress;
  if (!p || message != p->progress_message || !p->bar) return 0;
  long percent = lparam < 0 ? 0 : lparam > 100 ? 100 : static_cast<long>(lparam);
  if (percent > 0) p->size_known = true;
  draw(*p, percent, percent == 100);
  return 0;
}

// The first Ctrl-C asks the download to stop at its next report; a second
// one ends qg at once (a stalled server may not send that report soon).
void install_host(Progress* p) {
  g_progress = p;
  rz_host_set_window_proc(window_proc, nullptr);
  qg::bind_progress_and_interrupt(&p->progress_message, &p->cancel_message);
}

void remove_host() {
  qg::unbind_interrupt();
  rz_host_set_window_proc(nullptr, nullptr);
  g_progress = nullptr;
}

// ---- Results -----------------------------------------------------------

std::string status_text(int32_t status) {
  switch (status) {
    case 301:
    case 302:
    case 303:
    case 307:
    case 308:
      return "a redirection, which qg does not follow";
    case 401:
      return "unauthorized (check --user)";
    case 403:
      return "forbidden";
    case 404:
      return "not found";
    case 407:
      return "the proxy wants credentials";
    default:
      return status >= 500 ? "a server error" : "an error status";
  }
}

// The exit status and one line for every result of GETHTTP.
int report(int32_t r, const GetArgs& a, const Url& url) {
  std::string bytes = std::to_string(file_size(a.output)) + " bytes";
  if (r == 0) {
    std::printf("%s: %s\n", a.output.c_str(), bytes.c_str());
    return 0;
  }
  if (r >= GETHTTP_LOOKUP_FAILED) {
    int e = r - GETHTTP_LOOKUP_FAILED;
    std::string peer = a.proxy.empty() ? url.host : a.proxy;
    // The library reports the resolver's code made positive.
    return qg::fail(3, "cannot find host " + peer + ": " + gai_strerror(EAI_NONAME < 0 ? -e : e));
  }
  if (r >= 100 && r <= 999)
    return qg::fail(
        1, "the server answered " + std::to_string(r) + ", " + status_text(r) + "; nothing saved");
  switch (r) {
    case GETHTTP_TOO_LONG:
      return qg::fail(2,
                      "too long for the request: host, path, output file, user and password "
                      "take at most 255 characters each, the request 1023");
    case GETHTTP_NO_SOCKET:
      return qg::fail(3, "cannot create a socket");
    case GETHTTP_NO_CONNECT:
      return qg::fail(3, "cannot connect to " + (a.proxy.empty() ? url.authority : a.proxy));
    case GETHTTP_SEND_FAILED:
      return qg::fail(3, "cannot send the request");
    case GETHTTP_CANNOT_CREATE:
      return qg::fail(4, "cannot create " + a.output);
    case GETHTTP_WRITE_FAILED:
      return qg::fail(4, "cannot write " + a.output + " (" + bytes + " written)");
    case GETHTTP_RECEIVE_FAILED:
      return qg::fail(3, "receiving failed, or nothing arrived for " +
                             std::to_string(a.timeout_seconds) + " s; " + a.output + " holds " +
                             bytes);
    case GETHTTP_BODY_SHORT:
      return qg::fail(5, "the server closed the connection before the whole file arrived; " +
                             a.output + " holds " + bytes);
    case GETHTTP_CANCELLED:
      return qg::fail(130, "cancelled; " + a.output + " holds " + bytes);
    case GETHTTP_NOT_HTTP:
      return qg::fail(5, "the reply is not an HTTP response");
    default:
      return qg::fail(3, "download failed with result " + std::to_string(r));
  }
}

// ---- The command -------------------------------------------------------

int run_get(const GetArgs& a) {
  Url url;
  std::string error;
  if (!parse_url(a.url, &url, &error)) return qg::fail(2, error);
  std::string proxy_host;
  uint32_t proxy_port = 0;
  if (!a.proxy.empty() && !split_host_port(a.proxy, &proxy_host, &proxy_port, &error))
    return qg::fail(2, "--proxy: " + error);
  std::string user, password;
  if (!a.user.empty()) {
    size_t colon = a.user.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == a.user.size())
      return qg::fail(2, "--user takes USER:PASSWORD, both non-empty");
    if (a.user.size() > 170)
      return qg::fail(2, "--user: user and password take at most 170 characters together");
    user = a.user.substr(0, colon);
    password = a.user.substr(colon + 1);
  }
  if (a.timeout_seconds == 0 || a.timeout_seconds > 86400)
    return qg::fail(2, "--timeout takes 1 to 86400 seconds");
  if (!a.header_log.empty() && rz_host_set_header_log(a.header_log.c_str()) != 0)
    return qg::fail(2, "--header-log: path too long");
  rz_host_set_stall_time(a.timeout_seconds * 1000);

  Progress progress;
  progress.output = a.output;
  progress.bar = ::isatty(STDERR_FILENO) != 0;
  progress.start = std::chrono::steady_clock::now();
  install_host(&progress);
  if (WEBSTARTUP() != 0) {
    remove_host();
    return qg::fail(3, "the socket library would not start");
  }
  bool proxied = !a.proxy.empty();
  // Through a proxy the absolute URL carries the port; directly it goes apart.
  const std::string& host = proxied ? url.authority : url.host;
  int32_t r =
      GETHTTP(host.c_str(), url.path.c_str(), a.output.c_str(), 0, 0, url.port, user.c_str(),
              password.c_str(), proxied ? 1 : 0, proxy_host.c_str(), proxy_port,
              a.log_headers || !a.header_log.empty() ? 1 : 0, a.user_agent.c_str());
  WEBCLEANUP();
  if (progress.bar) std::fprintf(stderr, "\r%60s\r", "");
  remove_host();
  return report(r, a, url);
}

void add_get(CLI::App& root, int& exit_code) {
  auto args = std::make_shared<GetArgs>();
  CLI::App* cmd = root.add_subcommand("get", "Download an http:// URL into a file");
  cmd->add_option("url", args->url, "http://host[:port]/path")->required();
  cmd->add_option("-o,--output", args->output, "File that receives the body")->required();
  cmd->add_option("--proxy", args->proxy, "Send the request through the proxy HOST:PORT");
  cmd->add_option("--user", args->user, "Basic credentials USER:PASSWORD");
  cmd->add_option("--user-agent", args->user_agent, "Text of the User-Agent line")
      ->capture_default_str();
  cmd->add_flag("--log-headers", args->log_headers,
                "Write each response header line to the header log (didereva.txt)");
  cmd->add_option("--header-log", args->header_log,
                  "Header log file to use instead of didereva.txt (implies --log-headers)");
  cmd->add_option("--timeout", args->timeout_seconds,
                  "Give up when nothing arrives for this many seconds")
      ->capture_default_str();
  cmd->footer(
      "Exit status: 0 saved, 1 error status from the server, 2 usage, 3 network,\n"
      "4 output file, 5 reply cut short or not HTTP, 130 cancelled (Ctrl-C; press it\n"
      "twice to quit at once).  On a terminal a bar shows the bytes received, the\n"
      "rate and, once the server's announced size gives one, the percentage.");
  cmd->callback([args, &exit_code] { exit_code = run_get(*args); });
}

qg::CommandRegistrar registrar(50, add_get);

}  // namespace
