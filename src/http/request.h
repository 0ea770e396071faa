// The request side of the download: Basic credentials and the request text.
#pragma once

#include <cstdint>

namespace rz::http {

// Fixed stores of one download.  Each text copy holds at most 255
// characters and its terminating NUL; the request, with its NUL, fits the
// 1024-byte receive chunk.
constexpr uint32_t kFieldSize = 256;
constexpr uint32_t kCredentialsCapacity = 255;
constexpr uint32_t kRequestSize = 1024;

// Standard Base64 (RFC 4648 alphabet, "=" padding) of n bytes into out,
// NUL-terminated.  Returns the characters written, or -1 (out untouched)
// when they and the NUL do not fit capacity.
int32_t base64_encode(const unsigned char* data, uint32_t n, char* out, uint32_t capacity);

// Base64 of "user:password" into out.  When the joined length n gives
// n + n / 2 > capacity nothing is written and 0 is returned: with capacity
// 255 that admits joined texts of at most 170 characters, and a longer pair
// goes without credentials.  Returns the characters written otherwise.
int32_t encode_credentials(const char* user, const char* password, char* out, uint32_t capacity);

// The absolute URL a proxy needs, "http://" host path, into out.  Returns 0,
// or -1 when it does not fit capacity (out then holds "").
int format_proxy_target(const char* host, const char* path, char* out, uint32_t capacity);

// The request text into out: a Host line with host unless host is null,
// the Authorization line with credentials (non-empty; a null host then gives
// an empty Host line, which is the proxy form), and the User-Agent line.
// Returns 0 with *length the text's length, or -1 when the text and its NUL
// do not fit capacity (out then holds "").
// The Host line's value of a direct request, "host" or "host:port" when the
// port is not 80, into out.  Returns 0, or -1 when it does not fit.
int format_host_value(const char* host, uint16_t port, char* out, uint32_t capacity);

// True when text may stand in the request: no byte below 0x20 nor 0x7f, and
// no space either unless spaces is true (a space would end the target).
bool is_request_safe(const char* text, bool spaces);

int format_request(const char* target, const char* host, const char* credentials,
                   const char* user_agent, char* out, uint32_t capacity, uint32_t* length);

}  // namespace rz::http
