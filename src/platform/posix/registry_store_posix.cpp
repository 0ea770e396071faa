// The registry store's text, in the registry editor's export formats:
//
//   REGEDIT4                                  (or, from the Unicode editor,
//                                              Windows Registry Editor Version 5.00)
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Example]
//   @="default value"
//   "Text"="C:\\Program Files\\Example"
//   "Number"=dword:0000002a
//   "Bytes"=hex:01,02,ff
//   "Other"=hex(2):25,00
//
// Strings escape '\' and '"' with a backslash.  A text that the quoted form
// cannot carry (no single terminator at its end, or a line break inside) is
// kept as hex(1).  In the Unicode format the hex data of texts (types 1, 2
// and 7) are UTF-16LE; the library holds them as UTF-8.  A file is read in
// any of the encodings the editor writes (8-bit, UTF-8, UTF-16LE with its
// mark) and written back in the one it was found in.
//
// Lines the format does not allow (a stray text, "hex:zz", "dword:xyz", a
// string without its closing quote, a value before any key, a wrapped value
// that the file ends inside) are skipped, as the editor skips them on import,
// and kept where they stood when the file is rewritten.  So are comments and
// the deletion lines of an import file ("name"=- and [-key]).
#include "platform/posix/registry_store_posix.h"

#include <cstdio>

#include "platform/registry.h"

namespace rz::plat {

namespace {

constexpr std::string_view kRegedit4 = "REGEDIT4";
constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string at s[at] (the opening quote) into out; at moves
// behind the closing quote.
bool parse_quoted(std::string_view s, size_t& at, std::string& out) {
  if (at >= s.size() || s[at] != '"') return false;
  out.clear();
  for (++at; at < s.size(); ++at) {
    char c = s[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\' && at + 1 < s.size()) c = s[++at];
    out.push_back(c);
  }
  return false;
}

// "hex:..." bytes: pairs of digits separated by commas and blanks.
bool parse_hex_bytes(std::string_view s, std::string& out) {
  out.clear();
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == ',' || c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (i + 1 >= s.size() || hex_digit(c) < 0 || hex_digit(s[i + 1]) < 0) return false;
    out.push_back(static_cast<char>(hex_digit(c) * 16 + hex_digit(s[i + 1])));
    i += 2;
  }
  return true;
}

bool is_text_type(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The UTF-16LE data of a text in the Unicode format, as UTF-8.  Data of an
// odd length stay the file's bytes.
void text_data_from_file(StoreValue& v) {
  bool whole = false;
  std::u16string units = utf16_of_le_bytes(v.data, &whole);
  if (!whole) {
    v.verbatim = true;
    return;
  }
  v.data = utf8_of_utf16(units);
}

bool parse_data(std::string_view s, StoreHeader header, StoreValue& v) {
  if (!s.empty() && s.front() == '"') {
    size_t at = 0;
    if (!parse_quoted(s, at, v.data)) return false;
    v.data.push_back('\0');
    v.type = kRegSz;
    return true;
  }
  if (s.substr(0, 6) == "dword:") {
    std::string_view digits = s.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t n = 0;
    for (char c : digits) {
      if (hex_digit(c) < 0) return false;
      n = n * 16 + static_cast<uint32_t>(hex_digit(c));
    }
    v.type = kRegDword;
    v.data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) v.data[i] = static_cast<char>((n >> (8 * i)) & 0xff);
    return true;
  }
  if (s.substr(0, 4) == "hex:") {
    v.type = kRegBinary;
    return parse_hex_bytes(s.substr(4), v.data);
  }
  if (s.substr(0, 4) != "hex(") return false;
  size_t close = s.find("):");
  if (close == std::string_view::npos || close == 4) return false;
  uint32_t type = 0;
  for (char c : s.substr(4, close - 4)) {
    if (hex_digit(c) < 0 || type > 0x0fffffff) return false;
    type = type * 16 + static_cast<uint32_t>(hex_digit(c));
  }
  v.type = type;
  if (!parse_hex_bytes(s.substr(close + 2), v.data)) return false;
  if (header == StoreHeader::version5 && is_text_type(type)) text_data_from_file(v);
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// One logical line: a line that ends with a backslash outside a string (hex
// data wrapped by the registry editor) continues on the next.  raw is the
// physical lines as they stood (without their line breaks); unfinished, that
// the file ended inside a continued line.
struct LogicalLine {
  std::string text, raw;
  bool unfinished = false;
};

std::vector<LogicalLine> logical_lines(std::string_view text) {
  std::vector<LogicalLine> lines;
  LogicalLine current;
  bool open = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string_view physical =
        text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
    at = nl == std::string_view::npos ? text.size() : nl + 1;
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    std::string_view body = trim(physical);
    bool continued = !body.empty() && body.back() == '\\' && (open || body.front() != '[');
    if (continued) body.remove_suffix(1);
    if (open) current.raw += "\r\n";
    current.raw.append(physical);
    current.text.append(body);
    open = continued;
    if (!continued) {
      lines.push_back(std::move(current));
      current = LogicalLine();
    }
  }
  if (open) {
    current.unfinished = true;
    lines.push_back(std::move(current));
  }
  return lines;
}

enum class LineKind { value, deletion, bad };

LineKind parse_value_line(std::string_view line, StoreHeader header, StoreValue& v) {
  size_t at = 0;
  if (line.front() == '@') {
    at = 1;
  } else if (!parse_quoted(line, at, v.name)) {
    return LineKind::bad;
  }
  std::string_view rest = trim(line.substr(at));
  if (rest.empty() || rest.front() != '=') return LineKind::bad;
  rest = trim(rest.substr(1));
  if (rest == "-") return LineKind::deletion;
  return parse_data(rest, header, v) ? LineKind::value : LineKind::bad;
}

// Parses the lines behind the first one into store.
void parse_body(const std::vector<LogicalLine>& lines, size_t i, RegStore& store) {
  StoreKey* key = nullptr;
  auto keep = [&](const LogicalLine& l, bool bad) {
    if (key) {
      StoreValue kept;
      kept.kept = true;
      kept.data = l.raw;
      key->values.push_back(std::move(kept));
    } else {
      store.preamble.push_back(l.raw);
    }
    if (bad) ++store.bad_lines;
  };
  for (; i < lines.size(); ++i) {
    const LogicalLine& l = lines[i];
    std::string_view line = l.text;
    if (line.empty()) continue;
    if (l.unfinished) {
      store.unfinished = l.raw;
      ++store.bad_lines;
    } else if (line.front() == ';') {
      keep(l, false);
    } else if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string_view::npos || close < 2) {
        keep(l, true);
        continue;
      }
      StoreKey k;
      k.kept = line[1] == '-';
      k.path = k.kept ? l.raw : std::string(line.substr(1, close - 1));
      store.keys.push_back(std::move(k));
      key = &store.keys.back();
    } else if (key && key->kept) {
      keep(l, false);
    } else {
      StoreValue v;
      LineKind kind = key ? parse_value_line(line, store.header, v) : LineKind::bad;
      if (kind == LineKind::value)
        key->values.push_back(std::move(v));
      else
        keep(l, kind == LineKind::bad);
    }
  }
}

// ---- writing ----------------------------------------------------------------

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string hex_bytes(std::string_view data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(data[i]);
    if (i) out.push_back(',');
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

// A text that fits the quoted form: one terminator, at its end, and no line
// break (the format has no escape for one).
bool plain_text(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  std::string_view body = data.substr(0, data.size() - 1);
  return body.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

std::string format_value(const StoreValue& v, StoreHeader header) {
  std::string out = v.name.empty() ? "@=" : quoted(v.name) + "=";
  if (v.type == kRegSz && !v.verbatim && plain_text(v.data))
    return out + quoted(std::string_view(v.data).substr(0, v.data.size() - 1));
  if (v.type == kRegDword && v.data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.data[i]);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", n);
    return out + text;
  }
  if (v.type == kRegBinary) return out + "hex:" + hex_bytes(v.data);
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
  if (header == StoreHeader::version5 && is_text_type(v.type) && !v.verbatim)
    return out + prefix + hex_bytes(utf16le_bytes(utf16_of_utf8(v.data)));
  return out + prefix + hex_bytes(v.data);
}

}  // namespace

bool parse_store(std::string_view raw, RegStore& store) {
  store = RegStore();
  std::string text;
  store.encoding = decode_text_file(raw, text);
  std::vector<LogicalLine> lines = logical_lines(text);
  size_t i = 0;
  while (i < lines.size() && lines[i].text.empty()) ++i;
  if (i == lines.size()) return true;
  if (lines[i].text == kRegedit4 && !lines[i].unfinished) {
    store.header = StoreHeader::regedit4;
  } else if (lines[i].text == kVersion5 && !lines[i].unfinished) {
    store.header = StoreHeader::version5;
  } else {
    return false;
  }
  parse_body(lines, i + 1, store);
  return true;
}

std::string format_store(const RegStore& store) {
  std::string out(store.header == StoreHeader::version5 ? kVersion5 : kRegedit4);
  out += "\r\n";
  for (const std::string& line : store.preamble) out += line + "\r\n";
  for (const StoreKey& k : store.keys) {
    out += k.kept ? "\r\n" + k.path + "\r\n" : "\r\n[" + k.path + "]\r\n";
    for (const StoreValue& v : k.values)
      out += (v.kept ? v.data : format_value(v, store.header)) + "\r\n";
  }
  if (!store.unfinished.empty()) out += store.unfinished + "\r\n";
  return encode_text_file(out, store.encoding);
}

}  // namespace rz::plat
