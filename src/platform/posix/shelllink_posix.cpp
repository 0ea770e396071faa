// Shortcut files on POSIX.
//
// A link path ending in ".desktop" gets a freedesktop.org desktop entry;
// any other gets a Windows shortcut in the Shell Link binary format:
//
//   ShellLinkHeader  76 bytes: size 0x4C, the link CLSID, flags, attributes,
//                    three file times, file size, icon index, show command,
//                    hot key, reserved words
//   LinkInfo         header of 0x1C bytes, a VolumeID (fixed drive, no
//                    label), the target as the local base path, an empty
//                    common path suffix; when code page 1252 lacks a
//                    character of the target, a header of 0x24 bytes and
//                    the same two texts again in UTF-16LE
//   StringData       working directory, arguments, icon location, each a
//                    16-bit count and UTF-16LE characters, present when set
//   TerminalBlock    four zero bytes
//
// All numbers are little-endian.  Texts are taken by the rule of
// text_posix.h (UTF-8 when valid, else code page 1252); the 8-bit local path
// is written in code page 1252, the ANSI code page of a Western Windows, so
// that the 8-bit path and the Unicode strings name the same path.  Desktop
// entries are always UTF-8.
#include "platform/posix/shelllink_posix.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/path_posix.h"
#include "platform/posix/store_file_posix.h"
#include "platform/posix/text_posix.h"

namespace rz::plat {

namespace {

constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kHasIconLocation = 0x40;
constexpr uint32_t kIsUnicode = 0x80;
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

void put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
}

void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xffff);
  put16(out, v >> 16);
}

// One StringData entry.  Returns false when the text has more characters
// than the 16-bit count can say.
bool put_string_data(std::string& out, const std::string& text) {
  std::u16string units = utf16_of_text(text);
  if (units.size() > 0xffff) return false;
  put16(out, static_cast<uint32_t>(units.size()));
  out += utf16le_bytes(units);
  return true;
}

std::string link_info(const std::string& target) {
  std::u16string wide = utf16_of_text(target);
  bool exact = false;
  std::string ansi = cp1252_of_utf16(wide, &exact);
  // The Unicode texts go in only when the 8-bit path cannot say it all.
  const uint32_t header_size = exact ? 0x1C : 0x24;
  std::string volume;  // VolumeID: size, drive type, serial number, label offset, label
  put32(volume, 0x11);
  put32(volume, 3);  // DRIVE_FIXED
  put32(volume, 0);
  put32(volume, 0x10);
  volume.push_back('\0');
  uint32_t base_at = header_size + static_cast<uint32_t>(volume.size());
  uint32_t suffix_at = base_at + static_cast<uint32_t>(ansi.size()) + 1;
  uint32_t wide_base_at = suffix_at + 1;
  uint32_t wide_suffix_at = wide_base_at + 2 * static_cast<uint32_t>(wide.size() + 1);
  uint32_t total = exact ? suffix_at + 1 : wide_suffix_at + 2;
  std::string out;
  put32(out, total);
  put32(out, header_size);
  put32(out, 1);  // VolumeIDAndLocalBasePath
  put32(out, header_size);
  put32(out, base_at);
  put32(out, 0);  // no network location
  put32(out, suffix_at);
  if (!exact) {
    put32(out, wide_base_at);
    put32(out, wide_suffix_at);
  }
  out += volume;
  out += ansi;
  out.push_back('\0');
  out.push_back('\0');  // empty common path suffix
  if (!exact) {
    out += utf16le_bytes(wide);
    out.append(4, '\0');  // the path's terminator, an empty suffix
  }
  return out;
}

// Quotes one argument of a desktop entry's Exec key when it holds a
// character the key reserves.
std::string exec_argument(const std::string& arg) {
  std::string out;
  bool quote = arg.empty() || arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  for (char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out.push_back('\\');
    out.push_back(c);
    if (c == '%') out.push_back('%');  // a literal percent sign, not a field code
  }
  return quote ? "\"" + out + "\"" : out;
}

// Splits a command line at blanks; double quotes group blanks into one
// argument and are dropped.
std::vector<std::string> split_arguments(const std::string& line) {
  std::vector<std::string> args;
  std::string current;
  bool quoted = false, have = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      have = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (have) args.push_back(current);
      current.clear();
      have = false;
    } else {
      current.push_back(c);
      have = true;
    }
  }
  if (have) args.push_back(current);
  return args;
}

// The escapes of a desktop entry's string values.
std::string entry_value(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string stem_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.substr(0, name.size() - 8);  // without ".desktop"
}

}  // namespace

bool shell_link_bytes(const ShellLink& link, std::string& out) {
  std::string target = link.target ? link.target : "";
  std::string dir = link.working_dir ? link.working_dir : "";
  std::string args = link.arguments ? link.arguments : "";
  std::string icon = link.icon_path ? link.icon_path : "";
  uint32_t flags = kHasLinkInfo | kIsUnicode;
  if (!dir.empty()) flags |= kHasWorkingDir;
  if (!args.empty()) flags |= kHasArguments;
  if (!icon.empty()) flags |= kHasIconLocation;
  out.clear();
  put32(out, 0x4C);
  out.append(reinterpret_cast<const char*>(kLinkClsid), sizeof kLinkClsid);
  put32(out, flags);
  put32(out, 0);         // file attributes: unknown
  out.append(24, '\0');  // creation, access and write times: unknown
  put32(out, 0);         // file size
  put32(out, static_cast<uint32_t>(link.icon_index));
  put32(out, 1);  // SW_SHOWNORMAL
  put16(out, link.has_hot_key ? link.hot_key : 0);
  out.append(10, '\0');  // reserved
  out += link_info(target);
  if (!dir.empty() && !put_string_data(out, dir)) return false;
  if (!args.empty() && !put_string_data(out, args)) return false;
  if (!icon.empty() && !put_string_data(out, icon)) return false;
  put32(out, 0);
  return true;
}

// Every text of the entry is UTF-8, as the format requires.
std::string desktop_entry_text(const ShellLink& link, const std::string& link_path) {
  auto utf8 = [](const char* s) { return utf8_of_text(s ? s : ""); };
  std::string exec = exec_argument(utf8(link.target));
  for (const std::string& a : split_arguments(utf8(link.arguments))) exec += " " + exec_argument(a);
  std::string out = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
  out += "Name=" + entry_value(utf8_of_text(stem_of(link_path))) + "\n";
  out += "Exec=" + entry_value(exec) + "\n";
  if (link.working_dir && *link.working_dir)
    out += "Path=" + entry_value(utf8(link.working_dir)) + "\n";
  if (link.icon_path && *link.icon_path) out += "Icon=" + entry_value(utf8(link.icon_path)) + "\n";
  return out;
}

int32_t save_shell_link(const ShellLink& link, const char* link_path) {
  std::string path = native_path(link_path);
  if (path.empty() || path.back() == '/') return -1;
  std::string data;
  const std::string suffix = ".desktop";
  if (path.size() > suffix.size() &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    data = desktop_entry_text(link, path);
  } else if (!shell_link_bytes(link, data)) {
    return -1;
  }
  return store_replace(path, data) == 0 ? 0 : -1;
}

}  // namespace rz::plat
