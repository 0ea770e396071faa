#include <atomic>
#include <cstring>

#include "http/download.h"

namespace rz::http {

namespace {

#if defined(_WIN32)
constexpr char kDefaultHeaderLog[] = "c:\\didereva.txt";
#else
constexpr char kDefaultHeaderLog[] = "didereva.txt";
#endif

struct HttpSettings {
  std::atomic<uint32_t> stall_ms{kDefaultStallMs};
  char header_log[kHeaderLogPathSize] = {};
};

HttpSettings& settings() {
  static HttpSettings s;
  return s;
}

}  // namespace

void set_stall_time(uint32_t milliseconds) {
  settings().stall_ms.store(milliseconds ? milliseconds : kDefaultStallMs);
}

uint32_t stall_time() {
  return settings().stall_ms.load();
}

int set_header_log_path(const char* path) {
  char* store = settings().header_log;
  if (!path || !*path) {
    store[0] = 0;
    return 0;
  }
  size_t n = std::strlen(path);
  if (n >= kHeaderLogPathSize) return -1;
  std::memcpy(store, path, n + 1);
  return 0;
}

const char* header_log_path() {
  const char* store = settings().header_log;
  return store[0] ? store : kDefaultHeaderLog;
}

}  // namespace rz::http
