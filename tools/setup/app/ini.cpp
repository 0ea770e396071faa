#include "ini.h"

#include <cstdlib>

namespace setup {

namespace {

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}

bool same(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// Calls fn(line) for every line of text, without its line end.
template <typename Fn>
void each_line(const std::string& text, Fn fn) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    fn(text.substr(at, end - at));
    at = end + 1;
  }
}

// The section name of a "[name]" line, or false.
bool section_line(const std::string& line, std::string* name) {
  std::string t = trim(line);
  if (t.size() < 2 || t[0] != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = trim(t.substr(1, close - 1));
  return true;
}

}  // namespace

void Ini::parse(const std::string& text) {
  entries_.clear();
  std::string section;
  each_line(text, [&](const std::string& line) {
    std::string t = trim(line);
    if (t.empty() || t[0] == ';') return;
    std::string name;
    if (section_line(t, &name)) {
      section = name;
      return;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) return;
    std::string key = trim(t.substr(0, eq));
    if (!key.empty() && !find(section, key))
      entries_.push_back({section, key, trim(t.substr(eq + 1))});
  });
}

const Ini::Entry* Ini::find(const std::string& section, const std::string& key) const {
  for (const Entry& e : entries_)
    if (same(e.section, section) && same(e.key, key)) return &e;
  return nullptr;
}

std::string Ini::get(const std::string& section, const std::string& key,
                     const std::string& fallback) const {
  const Entry* e = find(section, key);
  return e ? e->value : fallback;
}

bool Ini::has(const std::string& section, const std::string& key) const {
  return find(section, key) != nullptr;
}

int64_t Ini::get_int(const std::string& section, const std::string& key, int64_t fallback) const {
  const Entry* e = find(section, key);
  if (!e || e->value.empty()) return fallback;
  char* end = nullptr;
  long long v = std::strtoll(e->value.c_str(), &end, 0);
  return end == e->value.c_str() ? fallback : v;
}

std::string Ini::item(const std::string& section, int n, const std::string& suffix) const {
  return get(section, "+" + std::to_string(n) + suffix);
}

int64_t Ini::item_int(const std::string& section, int n, const std::string& suffix,
                      int64_t fallback) const {
  return get_int(section, "+" + std::to_string(n) + suffix, fallback);
}

int Ini::count(const std::string& section, int limit) const {
  int64_t n = get_int(section, "Ndx", 0);
  return n < 0 ? 0 : n > limit ? limit : static_cast<int>(n);
}

std::string Ini::with_variables(
    const std::string& text, const std::vector<std::pair<std::string, std::string>>& vars) const {
  std::string out;
  bool skipping = false;
  each_line(text, [&](const std::string& line) {
    std::string name;
    if (section_line(line, &name)) skipping = same(name, "VARIABLES");
    if (!skipping) out += line + "\n";
  });
  out += "[VARIABLES]\n#=" + std::to_string(vars.size()) + "\n";
  for (size_t i = 0; i < vars.size(); ++i)
    out += std::to_string(i + 1) + "=" + vars[i].first + "\n";
  for (const auto& v : vars) out += v.first + "=" + v.second + "\n";
  return out;
}

std::vector<std::string> split_command(const std::string& text) {
  std::vector<std::string> args;
  std::string cur;
  bool in_arg = false, quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
        cur += text[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        cur += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (in_arg) args.push_back(cur);
      cur.clear();
      in_arg = false;
    } else {
      in_arg = true;
      if (c == '"')
        quoted = true;
      else
        cur += c;
    }
  }
  if (in_arg) args.push_back(cur);
  return args;
}

std::string library_message_fault(int id, const std::string& text) {
  if (text.size() > 79) return "it is longer than 79 characters";
  if (id != 4 && id != 13) return "";
  size_t percent = 0, templates = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    ++percent;
    if (i + 1 < text.size() && text[i + 1] == 's') ++templates;
  }
  return templates == 1 && percent == 1 ? "" : "it must hold %s once and no other %";
}

}  // namespace setup
