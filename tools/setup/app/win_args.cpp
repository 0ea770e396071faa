#include "win_args.h"

#include <cctype>

namespace setup {

namespace {

bool blank(char c) {
  return c == ' ' || c == '\t';
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

const char* const kSwitches[] = {"S",     "SILENT",       "VERYSILENT", "D", "LOG",
                                 "NORUN", "PASSWORDFILE", "UNINSTALL",  "?"};

// The long options (see options.cpp), which also end an unquoted /D= value.
const char* const kLongOptions[] = {
    "target",      "silent",  "quiet",       "yes",       "accept-license", "password-file",
    "components",  "list",    "info",        "check",     "extract",        "log",
    "progress-fd", "no-run",  "require-key", "uninstall", "installed",      "force",
    "help",        "version", "elevated"};

// True when a switch begins at line[at] ('/' or '-' and a known name, then
// a blank, '=' or the end).
bool switch_at(const std::string& line, size_t at) {
  if (at >= line.size() || (line[at] != '/' && line[at] != '-')) return false;
  bool dashes = line.compare(at, 2, "--") == 0;
  size_t from = at + (dashes ? 2 : 1), end = from;
  while (end < line.size() && !blank(line[end]) && line[end] != '=') ++end;
  if (end < line.size() && !blank(line[end]) && line[end] != '=') return false;
  std::string name = line.substr(from, end - from);
  if (dashes) {
    for (const char* o : kLongOptions)
      if (name == o) return true;
    return false;
  }
  name = upper(name);
  for (const char* s : kSwitches)
    if (name == s) return true;
  return false;
}

// Skips the program's name (its own rule: quoted, or up to the first blank).
size_t skip_program(const std::string& line) {
  size_t at = 0;
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    return close == std::string::npos ? line.size() : close + 1;
  }
  while (at < line.size() && !blank(line[at])) ++at;
  return at;
}

// One argument by the usual rules: blanks outside quotes end it; 2n
// backslashes before a quote give n and the quote toggles, 2n+1 give n and a
// literal quote; "" inside quotes is one literal quote.
std::string next_argument(const std::string& line, size_t* at) {
  std::string out;
  bool quoted = false;
  size_t i = *at;
  while (i < line.size() && (quoted || !blank(line[i]))) {
    if (line[i] == '\\') {
      size_t n = 0;
      while (i < line.size() && line[i] == '\\') ++n, ++i;
      if (i < line.size() && line[i] == '"') {
        out.append(n / 2, '\\');
        if (n % 2) {
          out += '"';
          ++i;
        }
      } else {
        out.append(n, '\\');
      }
      continue;
    }
    if (line[i] == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        out += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    out += line[i++];
  }
  *at = i;
  return out;
}

// The value of /D= starting at line[at]: quoted, or up to the next switch.
std::string folder_value(const std::string& line, size_t* at, bool whole_quoted) {
  size_t i = *at;
  if (whole_quoted || (i < line.size() && line[i] == '"')) {
    if (!whole_quoted) ++i;
    size_t close = line.find('"', i);
    size_t end = close == std::string::npos ? line.size() : close;
    *at = close == std::string::npos ? line.size() : close + 1;
    return line.substr(i, end - i);
  }
  size_t end = i;
  while (end < line.size()) {
    if (blank(line[end])) {
      size_t next = end;
      while (next < line.size() && blank(line[next])) ++next;
      if (next == line.size() || switch_at(line, next)) break;
      end = next;
      continue;
    }
    ++end;
  }
  *at = end;
  return line.substr(i, end - i);
}

// One argument, translated when it is a Windows switch: 0 with args added,
// or 1 with *error.
int translate(const std::string& arg, std::vector<std::string>* args, std::string* error) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-') || arg.compare(0, 2, "--") == 0) {
    args->push_back(arg);
    return 0;
  }
  size_t eq = arg.find('=');
  std::string name = upper(arg.substr(1, eq == std::string::npos ? std::string::npos : eq - 1));
  std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
  struct Flag {
    const char* name;
    std::vector<std::string> options;
  };
  const Flag flags[] = {{"S", {"--silent"}},
                        {"SILENT", {"--silent"}},
                        {"VERYSILENT", {"--silent", "--quiet"}},
                        {"NORUN", {"--no-run"}},
                        {"UNINSTALL", {"--uninstall"}},
                        {"?", {"--help"}}};
  for (const Flag& f : flags) {
    if (name != f.name) continue;
    if (eq != std::string::npos) return (*error = arg + " takes no value", 1);
    args->insert(args->end(), f.options.begin(), f.options.end());
    return 0;
  }
  const Flag valued[] = {
      {"LOG", {"--log"}}, {"PASSWORDFILE", {"--password-file"}}, {"D", {"--target"}}};
  for (const Flag& f : valued) {
    if (name != f.name) continue;
    if (value.empty()) return (*error = "/" + name + "= needs a value", 1);
    args->push_back(f.options[0]);
    args->push_back(value);
    return 0;
  }
  if (arg[0] == '-') {  // "-h" and the like are the program's own
    args->push_back(arg);
    return 0;
  }
  *error = "unknown switch: " + arg;
  return 1;
}

}  // namespace

std::string command_tail(const std::string& line) {
  size_t at = skip_program(line);
  while (at < line.size() && blank(line[at])) ++at;
  return line.substr(at);
}

int windows_arguments(const std::string& line, std::vector<std::string>* args, std::string* error) {
  args->clear();
  bool have_folder = false;
  size_t at = skip_program(line);
  while (at < line.size()) {
    while (at < line.size() && blank(line[at])) ++at;
    if (at == line.size()) break;
    bool whole_quoted = line[at] == '"';
    size_t s = at + (whole_quoted ? 1 : 0);
    if (s + 2 < line.size() && (line[s] == '/' || line[s] == '-') &&
        std::toupper(static_cast<unsigned char>(line[s + 1])) == 'D' && line[s + 2] == '=') {
      size_t v = s + 3;
      std::string folder = folder_value(line, &v, whole_quoted);
      at = v;
      if (folder.empty()) return (*error = "/D= needs a folder", 1);
      if (have_folder) return (*error = "/D= may be given once", 1);
      have_folder = true;
      args->push_back("--target");
      args->push_back(folder);
      continue;
    }
    std::string arg = next_argument(line, &at);
    if (translate(arg, args, error)) return 1;
  }
  return 0;
}

}  // namespace setup
