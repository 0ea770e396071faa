// Profile (INI) files on POSIX, with the lookup rules of the Windows profile
// calls:
//   - a section begins with a line "[name]"; lines before the first section
//     belong to none and are never found;
//   - "key=value" lines; white space around the key and around the value is
//     dropped; a value enclosed in a pair of matching quotes (" or ') loses
//     them when read;
//   - lines whose first non-blank character is ';' are comments; "#" is an
//     ordinary key name (scripts use it);
//   - section and key names are compared without regard to ASCII case; when a
//     name occurs twice, the first occurrence wins;
//   - anything absent gives the caller's default;
//   - a file that begins with a byte-order mark is UTF-8 or UTF-16LE, as the
//     Windows calls read it; its texts come out as UTF-8 (text_posix.h).
// The writer edits the one line it changes and keeps every other byte of the
// file (in the file's own encoding); the file is replaced atomically under a
// lock.
//
// Lookups come from a parsed copy of the file, which is kept only while the
// file provably has not changed: same inode, size, and modification and
// change times to the nanosecond.  Two changes within one tick of the
// file-time clock can leave all of these alike, so a copy read while the
// file's times were that recent is checked against the file's bytes until
// they are older; a file system that keeps whole seconds is read afresh
// every time.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/path_posix.h"
#include "platform/posix/store_file_posix.h"
#include "platform/posix/text_posix.h"
#include "platform/profile.h"

namespace rz::plat {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

enum class LineKind { other, section, key };

// One line of the file: where it lies (end excludes the line break) and what
// it holds.
struct Line {
  size_t begin = 0, end = 0, next = 0;
  LineKind kind = LineKind::other;
  std::string_view name;
  std::string_view value;
};

Line parse_line(std::string_view text, size_t begin) {
  Line line;
  line.begin = begin;
  size_t nl = text.find('\n', begin);
  line.end = nl == std::string_view::npos ? text.size() : nl;
  line.next = nl == std::string_view::npos ? text.size() : nl + 1;
  std::string_view body = trim(text.substr(begin, line.end - begin));
  if (body.empty() || body.front() == ';') return line;
  if (body.front() == '[') {
    size_t close = body.find(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::section;
      line.name = trim(body.substr(1, close - 1));
      return line;
    }
  }
  size_t eq = body.find('=');
  if (eq == std::string_view::npos) return line;
  line.kind = LineKind::key;
  line.name = trim(body.substr(0, eq));
  line.value = trim(body.substr(eq + 1));
  return line;
}

std::vector<Line> parse(std::string_view text) {
  std::vector<Line> lines;
  for (size_t at = 0; at < text.size();) {
    lines.push_back(parse_line(text, at));
    at = lines.back().next;
  }
  return lines;
}

// Index of the first key line named key inside a section named section, or
// -1.  Sections of the same name that occur more than once are searched in
// order.
long find_key(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == LineKind::section) inside = same_name(lines[i].name, section);
    if (inside && lines[i].kind == LineKind::key && same_name(lines[i].name, key))
      return static_cast<long>(i);
  }
  return -1;
}

std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

uint32_t copy_out(std::string_view v, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  size_t n = v.size() < size - 1 ? v.size() : size - 1;
  std::memcpy(out, v.data(), n);
  out[n] = 0;
  return static_cast<uint32_t>(n);
}

// A list of names, each terminated, the whole ended by a second terminator,
// cut to fit size bytes as the Windows call cuts it.
uint32_t copy_list(const std::vector<std::string_view>& names, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  if (size == 1) {
    out[0] = 0;
    return 0;
  }
  uint32_t at = 0;
  for (std::string_view name : names) {
    for (char c : name) {
      if (at + 2 >= size) {
        out[at] = 0;
        out[at + 1] = 0;
        return size - 2;
      }
      out[at++] = c;
    }
    if (at + 2 >= size) {
      out[at] = 0;
      out[at + 1] = 0;
      return size - 2;
    }
    out[at++] = 0;
  }
  out[at] = 0;
  return at;
}

// A file parsed once: its text (decoded), its lines and an index of its
// keys.  The lines look into text, so a copy never moves once built.
struct ParsedFile {
  std::string path;
  FileStamp stamp;
  bool settled = false;  // the stamp alone proves the file unchanged
  std::string raw;       // the file's bytes, to check a copy that is not settled
  FileEncoding encoding = FileEncoding::bytes;
  std::string text;
  std::vector<Line> lines;
  std::unordered_map<std::string, size_t> keys;  // "section\nkey" in lower case
};

// Longer than a tick of the coarse clock that file times come from.
constexpr int64_t kSettleNs = 50 * 1000 * 1000;

std::unique_ptr<ParsedFile> g_copy;  // the file looked up last

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string index_key(std::string_view section, std::string_view key) {
  return lower(section) + '\n' + lower(key);
}

// Times older than the settle time when the read began (at read_start) can
// no longer be shared by a later change.
bool settled(const FileStamp& st, int64_t read_start) {
  int64_t latest = st.modified_ns > st.changed_ns ? st.modified_ns : st.changed_ns;
  return st.fine() && read_start - latest > kSettleNs;
}

// Reads and parses the file; nullptr when it cannot be read.
std::unique_ptr<ParsedFile> parse_file(const std::string& path, int64_t read_start) {
  auto copy = std::make_unique<ParsedFile>();
  copy->path = path;
  if (store_read_stamped(path, copy->raw, copy->stamp) != 0) return nullptr;
  copy->encoding = decode_text_file(copy->raw, copy->text);
  copy->lines = parse(copy->text);
  std::string_view section;
  bool in_section = false;
  for (size_t i = 0; i < copy->lines.size(); ++i) {
    const Line& l = copy->lines[i];
    if (l.kind == LineKind::section) {
      section = l.name;
      in_section = true;
    } else if (l.kind == LineKind::key && in_section) {
      copy->keys.emplace(index_key(section, l.name), i);  // the first one wins
    }
  }
  copy->settled = settled(copy->stamp, read_start);
  return copy;
}

// The parsed file, from the kept copy while it provably matches the file.
const ParsedFile& parsed(const char* file) {
  static const ParsedFile kEmpty;
  if (!file || !*file) return kEmpty;
  std::string path = native_path(file);
  int64_t read_start = store_clock_ns();
  FileStamp now;
  if (store_stamp(path, now) != 0) return kEmpty;
  if (g_copy && g_copy->path == path && g_copy->stamp == now && now.fine()) {
    if (g_copy->settled) return *g_copy;
    std::string raw;
    FileStamp again;
    if (store_read_stamped(path, raw, again) == 0 && again == now && raw == g_copy->raw) {
      g_copy->settled = settled(now, read_start);
      return *g_copy;
    }
  }
  g_copy = parse_file(path, read_start);
  return g_copy ? *g_copy : kEmpty;
}

// The default as the Windows call uses it: without trailing blanks.
std::string_view default_of(const char* deflt) {
  std::string_view d = deflt ? deflt : "";
  while (!d.empty() && is_blank(d.back())) d.remove_suffix(1);
  return d;
}

bool has_line_break(std::string_view s) {
  return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}

// Names and values that the file cannot hold without being misread later.
bool writable(const char* section, const char* key, const char* value) {
  std::string_view s = trim(section), k = key ? trim(key) : std::string_view();
  if (has_line_break(s) || s.find(']') != std::string_view::npos) return false;
  if (key && (k.empty() || has_line_break(k) || k.find('=') != std::string_view::npos ||
              k.front() == '[' || k.front() == ';'))
    return false;
  return !(value && has_line_break(value));
}

std::string line_break_of(const std::string& text) {
  size_t nl = text.find('\n');
  if (nl == std::string::npos) return "\r\n";
  return (nl > 0 && text[nl - 1] == '\r') ? "\r\n" : "\n";
}

// Removes the section(s) named section and all their lines.
void drop_section(std::string& text, std::string_view section) {
  std::vector<Line> lines = parse(text);
  std::string kept;
  bool inside = false;
  for (const Line& l : lines) {
    if (l.kind == LineKind::section) inside = same_name(l.name, section);
    if (!inside) kept.append(text, l.begin, l.next - l.begin);
  }
  text = kept;
}

// Sets key to value in text, editing the key's line, inserting a line at the
// end of the section's keys, or appending a new section.
void set_key(std::string& text, std::string_view section, std::string_view key,
             std::string_view value) {
  std::vector<Line> lines = parse(text);
  std::string eol = line_break_of(text);
  long at = find_key(lines, section, key);
  if (at >= 0) {
    const Line& l = lines[at];
    size_t key_end = text.find('=', l.begin);
    std::string kept_key(trim(std::string_view(text).substr(l.begin, key_end - l.begin)));
    text.replace(l.begin, l.end - l.begin,
                 kept_key + "=" + std::string(value) +
                     (l.end > l.begin && text[l.end - 1] == '\r' ? "\r" : ""));
    return;
  }
  std::string entry = std::string(key) + "=" + std::string(value) + eol;
  long last = -1;  // last section header or key line of the last matching section
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == LineKind::section) {
      inside = same_name(lines[i].name, section);
      if (inside) last = static_cast<long>(i);
    } else if (inside && lines[i].kind == LineKind::key) {
      last = static_cast<long>(i);
    }
  }
  if (last >= 0) {
    const Line& l = lines[last];
    size_t pos = l.next;
    if (l.next == l.end) {  // the file ends without a line break
      text.append(eol);
      pos = text.size();
    }
    text.insert(pos, entry);
    return;
  }
  if (!text.empty() && text.back() != '\n') text.append(eol);
  text.append("[").append(section).append("]").append(eol).append(entry);
}

}  // namespace

uint32_t profile_get_string(const char* section, const char* key, const char* deflt, char* out,
                            uint32_t size, const char* file) {
  const ParsedFile& copy = parsed(file);
  const std::vector<Line>& lines = copy.lines;
  if (!section) {
    std::vector<std::string_view> names;
    for (const Line& l : lines)
      if (l.kind == LineKind::section) names.push_back(l.name);
    return copy_list(names, out, size);
  }
  std::string_view sec = trim(section);
  if (!key) {
    std::vector<std::string_view> names;
    bool inside = false;
    for (const Line& l : lines) {
      if (l.kind == LineKind::section) inside = same_name(l.name, sec);
      if (inside && l.kind == LineKind::key) names.push_back(l.name);
    }
    if (names.empty()) return copy_out(default_of(deflt), out, size);
    return copy_list(names, out, size);
  }
  auto at = copy.keys.find(
      index_key(text_for_file(sec, copy.encoding), text_for_file(trim(key), copy.encoding)));
  if (at == copy.keys.end()) return copy_out(default_of(deflt), out, size);
  return copy_out(unquote(lines[at->second].value), out, size);
}

uint32_t profile_get_int(const char* section, const char* key, int32_t deflt, const char* file) {
  if (!section || !key) return static_cast<uint32_t>(deflt);
  char text[64];
  if (profile_get_string(section, key, "", text, sizeof text, file) == 0)
    return static_cast<uint32_t>(deflt);
  const char* p = text;
  while (is_blank(*p) || *p == '\n') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint32_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) v = v * 10u + static_cast<uint32_t>(*p - '0');
  return negative ? 0u - v : v;
}

int profile_write_string(const char* section, const char* key, const char* value,
                         const char* file) {
  if (!section || !file || !*file || !writable(section, key, value)) return 0;
  std::string_view sec = trim(section);
  std::string k = key ? std::string(trim(key)) : std::string();
  std::string v = value ? std::string(value) : std::string();
  int rc = store_update(native_path(file), [&](std::string& raw) {
    std::string text;
    FileEncoding encoding = decode_text_file(raw, text);
    std::string before = text;
    std::string s8 = text_for_file(sec, encoding), k8 = text_for_file(k, encoding);
    if (!key) {
      drop_section(text, s8);
    } else if (!value) {
      std::vector<Line> lines = parse(text);
      long at = find_key(lines, s8, k8);
      if (at >= 0) text.erase(lines[at].begin, lines[at].next - lines[at].begin);
    } else {
      set_key(text, s8, k8, text_for_file(v, encoding));
    }
    if (text == before) return StoreEdit::keep;
    raw = encode_text_file(text, encoding);
    return StoreEdit::replace;
  });
  return rc == 0 ? 1 : 0;
}

}  // namespace rz::plat
