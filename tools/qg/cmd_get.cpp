// qg get: download one http:// URL into a file with GETHTTP.
//
// Exit status from qg's one table (exit_codes.h): 0 saved; 3 cancelled; 4
// bad command line, URL or a text too long for the request; 5 the output
// file could not be created or written; 6 network failure (lookup,
// connect, send, a reset, a stall); 7 the server's reply was an error
// status, a redirect, invalid or cut short.  A failed download never
// changes an existing output file.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#else
#include <glob.h>
#include <netdb.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "commands.h"
#include "exit_codes.h"
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

// A space in the path goes out percent-encoded; other control characters
// have no business in a URL and would break the request line.
bool encode_path(std::string* path, std::string* error) {
  std::string encoded;
  for (char c : *path) {
    auto byte = static_cast<unsigned char>(c);
    if (byte == ' ') {
      encoded += "%20";
    } else if (byte < 0x20 || byte == 0x7f) {
      return refuse(error, "the URL holds a control character (byte " + std::to_string(byte) + ")");
    } else {
      encoded += c;
    }
  }
  *path = encoded;
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
  if (!encode_path(&url->path, error)) return false;
  for (char c : url->authority) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
      return refuse(error, "the host name holds a space or a control character");
  }
  return split_host_port(url->authority, &url->host, &url->port, error);
}

// ---- Progress on the terminal ----------------------------------------

struct Progress {
  std::string output;
  bool bar = false;  // stderr is a terminal
  uint32_t progress_message = 0;
  uint32_t cancel_message = 0;
  bool size_known = false;  // a percentage above 0 has been reported
  std::string receiving;    // the library's temporary file, once found
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

// The bytes received so far.  The library writes each chunk before it
// reports, into a new file named OUTPUT.<8 hex digits>.part beside the
// output; the newest such file is the one being received.
#ifdef _WIN32
// Whether `name` is the output's name followed by ".<8 hex digits>.part".
bool is_part_of(const std::string& name, const std::string& output_name) {
  if (name.size() != output_name.size() + 14 || name.compare(0, output_name.size(), output_name))
    return false;
  std::string tail = name.substr(output_name.size());
  if (tail[0] != '.' || tail.compare(9, 5, ".part") != 0) return false;
  for (size_t i = 1; i < 9; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(tail[i])) || std::isupper(tail[i])) return false;
  return true;
}

long long received_bytes(Progress& p) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!p.receiving.empty()) {
    uintmax_t size = fs::file_size(p.receiving, ec);
    if (!ec) return static_cast<long long>(size);
  }
  p.receiving.clear();
  fs::path output(p.output);
  fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
  std::string name = output.filename().string();
  fs::file_time_type newest = fs::file_time_type::min();
  long long size = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!is_part_of(it->path().filename().string(), name)) continue;
    std::error_code e;
    fs::file_time_type t = it->last_write_time(e);
    if (e || t < newest) continue;
    newest = t;
    size = static_cast<long long>(it->file_size(e));
    p.receiving = it->path().string();
  }
  return size;
}
#else
long long received_bytes(Progress& p) {
  struct stat st;
  if (!p.receiving.empty() && ::stat(p.receiving.c_str(), &st) == 0)
    return static_cast<long long>(st.st_size);
  p.receiving.clear();
  glob_t found;
  std::string pattern =
      p.output + ".[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f].part";
  if (::glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found) != 0) return 0;
  long long newest = -1, size = 0;
  for (size_t i = 0; i < found.gl_pathc; ++i) {
    if (::stat(found.gl_pathv[i], &st) != 0 || st.st_mtime < newest) continue;
    newest = st.st_mtime;
    size = st.st_size;
    p.receiving = found.gl_pathv[i];
  }
  ::globfree(&found);
  return size;
}
#endif

// Redrawn at most ten times a second, and always at 100 percent.
void draw(Progress& p, long percent, bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && now - p.last_draw < std::chrono::milliseconds(100)) return;
  p.last_draw = now;
  double seconds = std::chrono::duration<double>(now - p.start).count();
  double bytes = static_cast<double>(received_bytes(p));
  std::string line = "\r" + human_bytes(bytes);
  if (seconds > 0.05) line += "  " + human_bytes(bytes / seconds) + "/s";
  if (p.size_known) line += "  " + std::to_string(percent) + "%";
  std::fprintf(stderr, "%-60s", line.c_str());
  std::fflush(stderr);
}

void on_progress(intptr_t lparam) {
  Progress* p = g_progress;
  if (!p || !p->bar) return;
  long percent = lparam < 0 ? 0 : lparam > 100 ? 100 : static_cast<long>(lparam);
  if (percent > 0) p->size_known = true;
  draw(*p, percent, percent == 100);
}

#ifdef _WIN32

// On Windows the console host's window receives the notifications.
void install_host(Progress* p) {
  g_progress = p;
  qg::set_progress_listener(on_progress);
  qg::bind_progress_and_interrupt(&p->progress_message, &p->cancel_message);
}

void remove_host() {
  qg::unbind_interrupt();
  qg::set_progress_listener(nullptr);
  g_progress = nullptr;
}

#else

intptr_t window_proc(void*, RZ_HWND, uint32_t message, uintptr_t, intptr_t lparam) {
  Progress* p = g_progress;
  if (!p || message != p->progress_message) return 0;
  on_progress(lparam);
  return 0;
}

// The handler the shared binding installed: it posts the cancel message.
void (*g_post_cancel)(int) = nullptr;

// Says at once that qg is stopping (a lookup or a connect may take a while
// to notice), then hands over to the handler that posts the cancel.
void on_first_interrupt(int signal_number) {
  static const char kStopping[] = "\nqg: stopping (press Ctrl-C again to quit at once)\n";
  ssize_t ignored = ::write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
  (void)ignored;
  if (g_post_cancel) g_post_cancel(signal_number);
}

// The first Ctrl-C asks the download to stop (a receive it cuts short sees
// the cancel at once); a second one ends qg at once.
void install_host(Progress* p) {
  g_progress = p;
  rz_host_set_window_proc(window_proc, nullptr);
  qg::bind_progress_and_interrupt(&p->progress_message, &p->cancel_message);
  struct sigaction bound;
  if (sigaction(SIGINT, nullptr, &bound) == 0 && !(bound.sa_flags & SA_SIGINFO) &&
      bound.sa_handler != SIG_DFL && bound.sa_handler != SIG_IGN) {
    g_post_cancel = bound.sa_handler;
    bound.sa_handler = on_first_interrupt;
    sigaction(SIGINT, &bound, nullptr);
  }
}

void remove_host() {
  qg::unbind_interrupt();
  g_post_cancel = nullptr;
  rz_host_set_window_proc(nullptr, nullptr);
  g_progress = nullptr;
}

#endif  // _WIN32

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
    case 206:
      return "a part of the file, which was not asked for";
    default:
      return status >= 500 ? "a server error" : "not the file";
  }
}

// The response header lines of one download, read back from the header log.
struct HeaderLog {
  std::string path;
  bool own = false;              // a private file qg removes afterwards
  std::set<std::string> before;  // "key=value" lines there before the call
};

std::set<std::string> log_lines(const std::string& path) {
  std::set<std::string> lines;
  std::ifstream in(path);
  std::string line;
  bool in_section = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in_section = line == "[result]";
    } else if (in_section && line.find('=') != std::string::npos) {
      lines.insert(line);
    }
  }
  return lines;
}

// The Location value among the lines this download logged, or "".
std::string logged_location(const HeaderLog& log) {
  for (const std::string& line : log_lines(log.path)) {
    if (log.before.count(line)) continue;
    std::string value = line.substr(line.find('=') + 1);
    if (starts_with_nocase(value, "location:")) {
      size_t start = value.find_first_not_of(" \t", 9);
      return start == std::string::npos ? "" : value.substr(start);
    }
  }
  return "";
}

// Why the output file could not be made or written, as the system words it:
// a probe creates a file in the same folder the way the download does.
#ifdef _WIN32
std::string file_reason(const std::string& output) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(output, ec)) return std::strerror(EISDIR);
  fs::path folder = fs::path(output).has_parent_path() ? fs::path(output).parent_path() : ".";
  if (!fs::is_directory(folder, ec)) return std::strerror(ENOENT);
  fs::space_info space = fs::space(folder, ec);
  if (!ec && space.available == 0) return std::strerror(ENOSPC);
  if (::_access(folder.string().c_str(), 2) != 0) return std::strerror(errno);
  return "";
}
#else
std::string file_reason(const std::string& output) {
  struct stat st;
  if (::stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  size_t slash = output.rfind('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : output.substr(0, slash);
  std::string probe = folder + "/.qg-probe-XXXXXX";
  int fd = ::mkstemp(&probe[0]);
  if (fd < 0) return std::strerror(errno);
  struct statvfs fs;
  bool full = ::fstatvfs(fd, &fs) == 0 && fs.f_bavail == 0;
  ::close(fd);
  ::unlink(probe.c_str());
  return full ? std::strerror(ENOSPC) : "";
}
#endif

int file_error(const std::string& what, const std::string& output) {
  std::string reason = file_reason(output);
  return qg::fail(qg::kExitFileError, what + " " + output + (reason.empty() ? "" : ": " + reason) +
                                          "; an existing file there is left as it was");
}

int server_error(const std::string& text) {
  return qg::fail(qg::kExitServer, text + "; nothing saved");
}

// The exit status and one line for the results that come from the server.
int report_server(int32_t r, const HeaderLog& log) {
  if (r >= 100 && r <= 999) {
    std::string text = "the server answered " + std::to_string(r) + ", " + status_text(r);
    std::string location = r >= 300 && r <= 399 ? logged_location(log) : "";
    if (!location.empty()) text += ", to " + location + " (fetch that URL to follow it)";
    return server_error(text);
  }
  switch (r) {
    case GETHTTP_BODY_SHORT:
      return server_error("the server closed the connection before the whole file arrived");
    case GETHTTP_HEADER_SHORT:
      return server_error("the server closed the connection before the end of its reply header");
    case GETHTTP_NOT_HTTP:
      return server_error("the reply is not an HTTP response");
    case GETHTTP_BAD_HEADER:
      return server_error(
          "the reply header is invalid (its length cannot be read, lengths disagree, or a line "
          "holds a NUL or a stray CR)");
    case GETHTTP_UNSUPPORTED_CODING:
      return server_error("the reply uses a transfer coding (chunked), which qg does not decode");
    default:
      return qg::fail(qg::kExitNetwork, "download failed with result " + std::to_string(r));
  }
}

// The exit status and one line for every result of GETHTTP.
int report(int32_t r, const GetArgs& a, const Url& url, const HeaderLog& log) {
  if (r == 0) {
    std::printf("%s: %lld bytes\n", a.output.c_str(), file_size(a.output));
    return qg::kExitOk;
  }
  std::string peer = a.proxy.empty() ? url.authority : a.proxy;
  if (r >= GETHTTP_LOOKUP_FAILED) {
    int e = r - GETHTTP_LOOKUP_FAILED;
    std::string host = a.proxy.empty() ? url.host : a.proxy;
#ifdef _WIN32
    // Windows Sockets' own error number.
    return qg::fail(qg::kExitNetwork, "cannot find host " + host + " (Windows Sockets error " +
                                          std::to_string(e) + ")");
#else
    // The library reports the resolver's code made positive.
    return qg::fail(qg::kExitNetwork,
                    "cannot find host " + host + ": " + gai_strerror(EAI_NONAME < 0 ? -e : e));
#endif
  }
  switch (r) {
    case GETHTTP_TOO_LONG:
      return qg::fail(qg::kExitUsage,
                      "too long for the request: host, path, output file, user and password "
                      "take at most 255 characters each, the request 1023");
    case GETHTTP_BAD_TEXT:
      return qg::fail(qg::kExitUsage, "a control character in the URL or --user-agent");
    case GETHTTP_NO_SOCKET:
      return qg::fail(qg::kExitNetwork, "cannot create a socket");
    case GETHTTP_NO_CONNECT:
      return qg::fail(qg::kExitNetwork, "cannot connect to " + peer);
    case GETHTTP_SEND_FAILED:
      return qg::fail(qg::kExitNetwork, "cannot send the request to " + peer);
    case GETHTTP_RECEIVE_FAILED:
      return qg::fail(qg::kExitNetwork,
                      "the connection to " + peer + " was reset while receiving; nothing saved");
    case GETHTTP_STALLED:
      return qg::fail(qg::kExitNetwork, "nothing arrived from " + peer + " for " +
                                            std::to_string(a.timeout_seconds) +
                                            " s; nothing saved");
    case GETHTTP_CANNOT_CREATE:
      return file_error("cannot create", a.output);
    case GETHTTP_WRITE_FAILED:
      return file_error("cannot write", a.output);
    case GETHTTP_CANCELLED:
      return qg::fail(qg::kExitCancelled, "cancelled; nothing saved");
    default:
      return report_server(r, log);
  }
}

// Every download logs its header lines, so that a redirect can name its
// target: into the log asked for, or into a private file removed afterwards.
bool open_header_log(const GetArgs& a, HeaderLog* log) {
  if (a.log_headers || !a.header_log.empty()) {
    log->path = rz_host_header_log();
    log->before = log_lines(log->path);
    return true;
  }
#ifdef _WIN32
  // A new file of its own in the temporary folder, created exclusively.
  std::error_code ec;
  std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
  if (ec) return false;
  std::string path;
  for (int i = 0; i < 100 && path.empty(); ++i) {
    std::string name = "qg-headers-" + std::to_string(::_getpid()) + "-" + std::to_string(i);
    std::string candidate = (tmp / name).string();
    int fd = ::_open(candidate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY, 0600);
    if (fd < 0) continue;
    ::_close(fd);
    path = candidate;
  }
  if (path.empty()) return false;
#else
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/qg-headers-XXXXXX";
  int fd = ::mkstemp(&path[0]);
  if (fd < 0) return false;
  ::close(fd);
#endif
  if (rz_host_set_header_log(path.c_str()) != 0) {
    ::unlink(path.c_str());
    return false;
  }
  log->path = path;
  log->own = true;
  return true;
}

void close_header_log(const HeaderLog& log) {
  if (!log.own) return;
  ::unlink(log.path.c_str());
  rz_host_set_header_log(nullptr);
}

// ---- The command -------------------------------------------------------

int run_get(const GetArgs& a) {
  Url url;
  std::string error;
  if (!parse_url(a.url, &url, &error)) return qg::fail(qg::kExitUsage, error);
  std::string proxy_host;
  uint32_t proxy_port = 0;
  if (!a.proxy.empty() && !split_host_port(a.proxy, &proxy_host, &proxy_port, &error))
    return qg::fail(qg::kExitUsage, "--proxy: " + error);
  std::string user, password;
  if (!a.user.empty()) {
    size_t colon = a.user.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == a.user.size())
      return qg::fail(qg::kExitUsage, "--user takes USER:PASSWORD, both non-empty");
    if (a.user.size() > 170)
      return qg::fail(qg::kExitUsage,
                      "--user: user and password take at most 170 characters together");
    user = a.user.substr(0, colon);
    password = a.user.substr(colon + 1);
  }
  if (a.timeout_seconds == 0 || a.timeout_seconds > 86400)
    return qg::fail(qg::kExitUsage, "--timeout takes 1 to 86400 seconds");
  if (!a.header_log.empty() && rz_host_set_header_log(a.header_log.c_str()) != 0)
    return qg::fail(qg::kExitUsage, "--header-log: path too long");
  rz_host_set_stall_time(a.timeout_seconds * 1000);

  Progress progress;
  progress.output = a.output;
  progress.bar = ::isatty(2) != 0;
  progress.start = std::chrono::steady_clock::now();
  HeaderLog log;
  bool logging = open_header_log(a, &log);
  install_host(&progress);
  if (WEBSTARTUP() != 0) {
    remove_host();
    close_header_log(log);
    return qg::fail(qg::kExitNetwork, "the socket library would not start");
  }
  bool proxied = !a.proxy.empty();
  // Through a proxy the absolute URL carries the port; directly it goes apart.
  const std::string& host = proxied ? url.authority : url.host;
  int32_t r = GETHTTP(host.c_str(), url.path.c_str(), a.output.c_str(), 0, 0, url.port,
                      user.c_str(), password.c_str(), proxied ? 1 : 0, proxy_host.c_str(),
                      proxy_port, logging ? 1 : 0, a.user_agent.c_str());
  WEBCLEANUP();
  if (progress.bar) std::fprintf(stderr, "\r%60s\r", "");
  remove_host();
  int status = report(r, a, url, log);
  close_header_log(log);
  return status;
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
      "Exit status: 0 saved, 3 cancelled (Ctrl-C; press it twice to quit at once),\n"
      "4 usage, 5 output file, 6 network (no connection, a reset, nothing arrived\n"
      "in time), 7 the server's reply (an error status, a redirect, invalid or cut\n"
      "short).  A failed download leaves an existing output file as it was.  On a\n"
      "terminal a bar shows the bytes received, the rate and, once the server's\n"
      "announced size gives one, the percentage.");
  cmd->callback([args, &exit_code] { exit_code = run_get(*args); });
}

qg::CommandRegistrar registrar(50, add_get);

}  // namespace
