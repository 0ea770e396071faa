#include "http/request.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace rz::http {

int32_t base64_encode(const unsigned char* data, uint32_t n, char* out, uint32_t capacity) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  uint64_t needed = (static_cast<uint64_t>(n) + 2) / 3 * 4;
  if (needed + 1 > capacity) return -1;
  char* p = out;
  uint32_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t group = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    *p++ = kAlphabet[(group >> 18) & 63];
    *p++ = kAlphabet[(group >> 12) & 63];
    *p++ = kAlphabet[(group >> 6) & 63];
    *p++ = kAlphabet[group & 63];
  }
  if (n - i == 1) {
    uint32_t group = uint32_t{data[i]} << 16;
    *p++ = kAlphabet[(group >> 18) & 63];
    *p++ = kAlphabet[(group >> 12) & 63];
    *p++ = '=';
    *p++ = '=';
  } else if (n - i == 2) {
    uint32_t group = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
    *p++ = kAlphabet[(group >> 18) & 63];
    *p++ = kAlphabet[(group >> 12) & 63];
    *p++ = kAlphabet[(group >> 6) & 63];
    *p++ = '=';
  }
  *p = 0;
  return static_cast<int32_t>(p - out);
}

int32_t encode_credentials(const char* user, const char* password, char* out, uint32_t capacity) {
  size_t user_length = std::strlen(user);
  size_t password_length = std::strlen(password);
  size_t n = user_length + 1 + password_length;
  // The store's own rule of thumb for Base64's growth; it also keeps the
  // joined text small enough for the 1024-byte request.
  if (n + n / 2 > capacity) return 0;
  std::unique_ptr<unsigned char[]> joined(new (std::nothrow) unsigned char[n + 1]);
  if (!joined) return 0;
  std::memcpy(joined.get(), user, user_length);
  joined[user_length] = ':';
  std::memcpy(joined.get() + user_length + 1, password, password_length);
  joined[n] = 0;
  int32_t written = base64_encode(joined.get(), static_cast<uint32_t>(n), out, capacity);
  return written < 0 ? 0 : written;
}

int format_proxy_target(const char* host, const char* path, char* out, uint32_t capacity) {
  int n = std::snprintf(out, capacity, "http://%s%s", host, path);
  if (n < 0 || static_cast<uint32_t>(n) >= capacity) {
    if (capacity) out[0] = 0;
    return -1;
  }
  return 0;
}

int format_host_value(const char* host, uint16_t port, char* out, uint32_t capacity) {
  int n = port == 80 ? std::snprintf(out, capacity, "%s", host)
                     : std::snprintf(out, capacity, "%s:%u", host, static_cast<unsigned>(port));
  if (n < 0 || static_cast<uint32_t>(n) >= capacity) {
    if (capacity) out[0] = 0;
    return -1;
  }
  return 0;
}

bool is_request_safe(const char* text, bool spaces) {
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 0x20 || *p == 0x7f) return false;
    if (*p == ' ' && !spaces) return false;
  }
  return true;
}

int format_request(const char* target, const char* host, const char* credentials,
                   const char* user_agent, char* out, uint32_t capacity, uint32_t* length) {
  int n;
  if (credentials[0]) {
    n = std::snprintf(out, capacity,
                      "GET %s HTTP/1.0\r\nHost: %s\r\nAuthorization: Basic %s\r\n"
                      "User-Agent: %s\r\n\r\n",
                      target, host ? host : "", credentials, user_agent);
  } else if (host) {
    n = std::snprintf(out, capacity, "GET %s HTTP/1.0\r\nHost: %s\r\nUser-Agent: %s\r\n\r\n",
                      target, host, user_agent);
  } else {
    n = std::snprintf(out, capacity, "GET %s HTTP/1.0\r\nUser-Agent: %s\r\n\r\n", target,
                      user_agent);
  }
  if (n < 0 || static_cast<uint32_t>(n) >= capacity) {
    if (capacity) out[0] = 0;
    return -1;
  }
  *length = static_cast<uint32_t>(n);
  return 0;
}

}  // namespace rz::http
