#include "http/response.h"

#include <cstring>

#include "http/results.h"

namespace rz::http {

namespace {

constexpr char kVersionPrefix[] = "HTTP/1.";
constexpr uint32_t kVersionPrefixLength = 7;
constexpr char kLengthPrefix[] = "Content-Length:";
constexpr uint32_t kLengthPrefixLength = 15;

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

// Examine one complete line already in p.header_line.  Returns done,
// failed, or need_more to go on with the next line.
HeaderStep examine_line(HeaderParse& p, uint32_t text_length, uint32_t raw_length) {
  const char* line = p.header_line;
  if (p.lines == 1) {
    int32_t status = 0;
    if (parse_status_line(line, &status) != 0) {
      p.result = kNotHttp;
      return HeaderStep::failed;
    }
    if (status < 200 || status > 299) {
      p.result = status;
      return HeaderStep::failed;
    }
    return HeaderStep::need_more;
  }
  // A cut line may have lost digits: its length is not trusted.
  if (text_length < kHeaderLineSize && starts_with_nocase(line, kLengthPrefix)) {
    uint32_t value = 0;
    if (parse_content_length(line + kLengthPrefixLength, &value)) {
      p.has_length = true;
      p.declared_length = value;
    }
  }
  // The empty line: nothing, or a lone CR, before the LF.
  if (raw_length == 0 || (raw_length == 1 && text_length == 0)) return HeaderStep::done;
  return HeaderStep::need_more;
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
  *status = (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
  return 0;
}

bool parse_content_length(const char* value, uint32_t* out) {
  const char* p = value;
  while (is_blank(*p)) ++p;
  if (!is_digit(*p)) return false;
  uint64_t n = 0;
  for (; is_digit(*p); ++p) {
    n = n * 10 + static_cast<uint64_t>(*p - '0');
    if (n > 0xffffffffu) return false;
  }
  while (is_blank(*p)) ++p;
  if (*p) return false;
  *out = static_cast<uint32_t>(n);
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
        p.result = kNotHttp;
        return HeaderStep::failed;
      }
      return HeaderStep::need_more;
    }
    uint32_t raw_length = static_cast<uint32_t>(static_cast<const unsigned char*>(lf) - start);
    uint32_t text_length = take_line(p, start, raw_length);
    p.line_position += raw_length + 1;
    ++p.lines;
    if (sink) sink(context, p.header_line);
    HeaderStep step = examine_line(p, text_length, raw_length);
    if (step != HeaderStep::need_more) return step;
  }
  return HeaderStep::need_more;
}

}  // namespace rz::http
