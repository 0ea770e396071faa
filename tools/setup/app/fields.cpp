#include "fields.h"

#include "sys.h"

#include <cerrno>

namespace setup {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char kHex[] = "0123456789abcdef";

}  // namespace

std::string escape_field(const std::string& raw) {
  if (raw.empty()) return "%";
  std::string out;
  out.reserve(raw.size());
  for (char ch : raw) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c <= ' ' || c == '%' || c == 0x7f) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

bool unescape_field(const std::string& text, std::string* raw) {
  raw->clear();
  if (text == "%") return true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *raw += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    *raw += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string join_fields(const Fields& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ' ';
    line += escape_field(fields[i]);
  }
  return line + "\n";
}

bool split_fields(const std::string& line, Fields* out) {
  out->clear();
  size_t at = 0;
  while (at <= line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    std::string raw;
    if (end == at || !unescape_field(line.substr(at, end - at), &raw)) return false;
    out->push_back(raw);
    at = end + 1;
  }
  return true;
}

std::string to_hex(const std::string& bytes) {
  std::string out;
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

bool from_hex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2) return false;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    *bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

std::string num(uint64_t v) {
  return std::to_string(v);
}

bool parse_num(const std::string& text, uint64_t* v) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t r = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (r > (UINT64_MAX - d) / 10) return false;
    r = r * 10 + d;
  }
  *v = r;
  return true;
}

bool write_all(int fd, const std::string& s) {
  size_t at = 0;
  while (at < s.size()) {
    ssize_t n = ::write(fd, s.data() + at, s.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

bool read_lines(const std::string& path, std::vector<std::string>* lines, size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | sys::kOpenPrivate);
  if (fd < 0) return false;
  std::string data;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || data.size() + static_cast<size_t>(n) > limit) {
      ::close(fd);
      return false;
    }
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  lines->clear();
  size_t at = 0;
  while (at < data.size()) {
    size_t end = data.find('\n', at);
    if (end == std::string::npos) end = data.size();
    lines->push_back(data.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

}  // namespace setup
