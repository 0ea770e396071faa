#include "http/response.h"

#include <cstring>

#include "http/results.h"

namespace rz::http {

namespace {

constexpr char kVersionPrefix[] = "HTTP/1.";
constexpr uint32_t kVersionPrefixLength = 7;
constexpr char kLengthField[] = "Content-Length";
constexpr char kCodingField[] = "Transfer-Encoding";
constexpr int32_t kStatusOk = 200;
constexpr int32_t kStatusNoContent = 204;

char fold(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// True while the first bytes gathered can still be the start of a status line.
bool may_be_status_line(const unsigned char* data, uint32_t n) {
  uint32_t k = n < kVersionPrefixLength ? n : kVersionPrefixLength;
  for (uint32_t i = 0; i < k; ++i) {
    if (fold(static_cast<char>(data[i])) != kVersionPrefix[i]) return false;
  }
  return true;
}

// Copy the text of the line data[0, n) into p.header_line: up to the first
// CR or LF, cut to 255 characters.  Returns the text's full length.
uint32_t take_line(HeaderParse& p, const unsigned char* data, uint32_t n) {
  uint32_t text = 0;
  while (text < n && data[text] != '\r' && data[text] != '\n') ++text;
  uint32_t kept = text < kHeaderLineSize - 1 ? text : kHeaderLineSize - 1;
  std::memcpy(p.header_line, data, kept);
  p.header_line[kept] = 0;
  return text;
}

// Where the value of the field `name` begins in the line text data[0, n):
// the index behind its colon; 0 when the line is another field; -1 when the
// line names the field but blanks stand before the colon, which readers
// take in different ways (the pattern of a smuggled header).
int32_t field_value(const unsigned char* data, uint32_t n, const char* name) {
  auto length = static_cast<uint32_t>(std::strlen(name));
  if (n <= length) return 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (fold(static_cast<char>(data[i])) != fold(name[i])) return 0;
  }
  if (data[length] == ':') return static_cast<int32_t>(length + 1);
  return is_blank(static_cast<char>(data[length])) ? -1 : 0;
}

HeaderStep fail(HeaderParse& p, int32_t result) {
  p.result = result;
  return HeaderStep::failed;
}

// The status line: only 200 and 204 go on.
HeaderStep examine_status_line(HeaderParse& p, bool has_nul) {
  if (parse_status_line(p.header_line, &p.status) != 0) return fail(p, kNotHttp);
  if (has_nul) return fail(p, kBadHeader);
  if (p.status != kStatusOk && p.status != kStatusNoContent) return fail(p, p.status);
  return HeaderStep::need_more;
}

// A Content-Length line, read from its raw bytes: a value that cannot be
// read, or that differs from an earlier one, makes the length unknowable.
HeaderStep examine_length(HeaderParse& p, const unsigned char* text, uint32_t n) {
  uint64_t value = 0;
  if (!parse_content_length(reinterpret_cast<const char*>(text), n, &value))
    return fail(p, kBadHeader);
  if (p.has_length && p.declared_length != value) return fail(p, kBadHeader);
  p.has_length = true;
  p.declared_length = value;
  p.after_framing = true;
  return HeaderStep::need_more;
}

// Examine one complete line: line[0, raw_length) up to its LF, whose text
// (up to the first CR) is text_length long and already in p.header_line.
// Returns done, failed, or need_more to go on with the next line.
HeaderStep examine_line(HeaderParse& p, const unsigned char* line, uint32_t text_length,
                        uint32_t raw_length) {
  bool has_nul = std::memchr(line, 0, raw_length) != nullptr;
  // A CR ends a line only right before its LF; a stray one would split the
  // line for another reader and not for this one.
  bool stray_cr = text_length + 1 < raw_length;
  if (p.lines == 1) {
    HeaderStep step = examine_status_line(p, has_nul);
    if (step == HeaderStep::need_more && stray_cr) return fail(p, kBadHeader);
    return step;
  }
  if (has_nul || stray_cr) return fail(p, kBadHeader);
  if (text_length == 0) return HeaderStep::done;
  // A folded continuation would add to the length read before it.
  if (is_blank(static_cast<char>(line[0])) && p.after_framing) return fail(p, kBadHeader);
  p.after_framing = false;
  int32_t at = field_value(line, text_length, kLengthField);
  if (at < 0) return fail(p, kBadHeader);
  if (at > 0) {
    auto start = static_cast<uint32_t>(at);
    return examine_length(p, line + start, text_length - start);
  }
  at = field_value(line, text_length, kCodingField);
  if (at < 0) return fail(p, kBadHeader);
  // Chunked framing is not decoded: written as it came it would corrupt the file.
  if (at > 0) return fail(p, kUnsupportedCoding);
  return HeaderStep::need_more;
}

// After a status that ends the download, hand the complete lines already
// received to the sink as well, up to the empty line: the log then shows
// where a redirect points.  Nothing more is waited for, and nothing here
// changes the verdict.
void log_lines_received(HeaderParse& p, const unsigned char* buffer, uint32_t filled,
                        HeaderLineSink sink, void* context) {
  uint32_t at = p.line_position;
  while (sink && at < filled) {
    const void* lf = std::memchr(buffer + at, '\n', filled - at);
    if (!lf) return;
    auto raw_length = static_cast<uint32_t>(static_cast<const unsigned char*>(lf) - (buffer + at));
    uint32_t text_length = take_line(p, buffer + at, raw_length);
    sink(context, p.header_line);
    if (text_length == 0) return;
    at += raw_length + 1;
  }
}

}  // namespace

bool starts_with_nocase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    if (!*text || fold(*text) != fold(*prefix)) return false;
  }
  return true;
}

int parse_status_line(const char* line, int32_t* status) {
  if (!starts_with_nocase(line, kVersionPrefix)) return -1;
  const char* p = line + kVersionPrefixLength;
  if (!is_digit(*p)) return -1;
  while (is_digit(*p)) ++p;
  if (*p != ' ') return -1;
  while (*p == ' ') ++p;
  if (!is_digit(p[0]) || !is_digit(p[1]) || !is_digit(p[2])) return -1;
  if (p[3] != 0 && !is_blank(p[3])) return -1;
  int32_t value = (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
  if (value < 100 || value > 599) return -1;
  *status = value;
  return 0;
}

bool parse_content_length(const char* value, uint32_t n, uint64_t* out) {
  uint32_t i = 0;
  while (i < n && is_blank(value[i])) ++i;
  if (i == n || !is_digit(value[i])) return false;
  uint64_t number = 0;
  for (; i < n && is_digit(value[i]); ++i) {
    auto digit = static_cast<uint64_t>(value[i] - '0');
    if (number > (UINT64_MAX - digit) / 10) return false;
    number = number * 10 + digit;
  }
  while (i < n && is_blank(value[i])) ++i;
  if (i != n) return false;
  *out = number;
  return true;
}

HeaderStep parse_header(HeaderParse& p, const unsigned char* buffer, uint32_t filled,
                        HeaderLineSink sink, void* context) {
  while (p.line_position < filled) {
    const unsigned char* start = buffer + p.line_position;
    uint32_t available = filled - p.line_position;
    const void* lf = std::memchr(start, '\n', available);
    if (!lf) {
      // Another protocol's reply may never send a line end we would wait for.
      if (p.lines == 0 && !may_be_status_line(start, available)) {
        take_line(p, start, available);
        p.lines = 1;
        if (sink) sink(context, p.header_line);
        return fail(p, kNotHttp);
      }
      return HeaderStep::need_more;
    }
    uint32_t raw_length = static_cast<uint32_t>(static_cast<const unsigned char*>(lf) - start);
    uint32_t text_length = take_line(p, start, raw_length);
    p.line_position += raw_length + 1;
    ++p.lines;
    if (sink) sink(context, p.header_line);
    HeaderStep step = examine_line(p, start, text_length, raw_length);
    if (step == HeaderStep::failed && p.lines == 1 && p.result == p.status)
      log_lines_received(p, buffer, filled, sink, context);
    if (step != HeaderStep::need_more) return step;
  }
  return HeaderStep::need_more;
}

}  // namespace rz::http
