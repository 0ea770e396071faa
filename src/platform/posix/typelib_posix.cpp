// Type libraries on POSIX: the header of the MSFT format (as MIDL and widl
// write it) and the registration that RegisterTypeLib makes:
//
//   HKCR\TypeLib\{LIBID}\MAJOR.MINOR           @ = help string
//   HKCR\TypeLib\{LIBID}\MAJOR.MINOR\LCID\win32 @ = path (win16/win64 by kind)
//   HKCR\TypeLib\{LIBID}\MAJOR.MINOR\FLAGS      @ = library flags, decimal
//   HKCR\TypeLib\{LIBID}\MAJOR.MINOR\HELPDIR    @ = folder of the library
//
// MAJOR, MINOR and LCID are written in hexadecimal, as Windows does.
//
// MSFT layout used here (all little-endian 32-bit words unless noted):
//   0x00 magic "MSFT", 0x04 format version 0x00010002, 0x08 offset of the
//   LIBID in the GUID table, 0x0C lcid, 0x14 flags word (low nibble: system
//   kind; 0x100: a help-string DLL word follows the header), 0x18 version
//   (low 16 bits major, high 16 minor), 0x1C library flags, 0x20 number of
//   type infos, 0x24 offset of the help string in the string table, 0x38
//   offset of the name in the name table.  The header is 0x54 bytes; behind
//   it come the optional DLL word, one word per type info, then the segment
//   directory of 15 entries {offset, length, -1, 0x0F}.  Segment 5 is the
//   GUID table, 7 the name table (entries: three words, the low byte of the
//   third the length, then the characters), 8 the string table (entries: a
//   16-bit length, then the characters).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/path_posix.h"
#include "platform/posix/shelllink_posix.h"
#include "platform/posix/store_file_posix.h"
#include "platform/registry.h"

namespace rz::plat {

namespace {

constexpr size_t kHeaderSize = 0x54;
constexpr size_t kSegments = 15;
constexpr size_t kGuidSegment = 5, kNameSegment = 7, kStringSegment = 8;

uint32_t word(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

struct Segment {
  uint32_t offset = 0, length = 0;
};

// [at, at + n) lies inside a buffer of size bytes.  No sum is formed, so
// nothing can wrap, whatever the width of size_t.
bool fits(size_t size, uint64_t at, uint64_t n) {
  return at <= size && n <= size - at;
}

// An entry at offset inside segment s, n bytes long, lying wholly in the
// segment, which lies wholly in the file.  Every partial sum is then at most
// the file's size.
bool inside(const std::string& b, const Segment& s, uint32_t offset, uint64_t n) {
  return fits(b.size(), s.offset, s.length) && fits(s.length, offset, n);
}

// The bytes of an entry that inside() accepted.
const char* entry_at(const std::string& b, const Segment& s, uint32_t offset) {
  return b.data() + s.offset + offset;
}

// The library's help string: a 16-bit length, then the characters.
int32_t read_help_string(const std::string& b, const Segment& s, uint32_t at, std::string& out) {
  if (!inside(b, s, at, 2)) return kTypeLibCantLoad;
  const char* e = entry_at(b, s, at);
  size_t len =
      static_cast<unsigned char>(e[0]) | static_cast<size_t>(static_cast<unsigned char>(e[1])) << 8;
  if (!inside(b, s, at, 2 + uint64_t{len})) return kTypeLibCantLoad;
  out.assign(e + 2, len);
  return 0;
}

// The library's name: three words, the low byte of the third the length,
// then the characters.
int32_t read_name(const std::string& b, const Segment& s, uint32_t at, std::string& out) {
  if (!inside(b, s, at, 12)) return kTypeLibCantLoad;
  const char* e = entry_at(b, s, at);
  size_t len = static_cast<unsigned char>(e[8]);
  if (!inside(b, s, at, 12 + uint64_t{len})) return kTypeLibCantLoad;
  out.assign(e + 12, len);
  return 0;
}

}  // namespace

// Every offset the file gives is checked against the file's size before it
// is used: a short or damaged file is refused, never read past its end.
int32_t read_type_library(const std::string& b, TypeLibInfo& info) {
  if (b.size() < kHeaderSize || b.compare(0, 4, "MSFT") != 0 || word(b, 4) != 0x00010002)
    return kTypeLibCantLoad;
  uint32_t guid_at = word(b, 0x08), varflags = word(b, 0x14), typeinfos = word(b, 0x20);
  uint64_t at = kHeaderSize + ((varflags & 0x100) ? 4 : 0);
  if (!fits(b.size(), at, 4 * uint64_t{typeinfos})) return kTypeLibCantLoad;
  at += 4 * uint64_t{typeinfos};
  if (!fits(b.size(), at, kSegments * 16)) return kTypeLibCantLoad;
  size_t dir = static_cast<size_t>(at);
  Segment seg[kSegments];
  for (size_t i = 0; i < kSegments; ++i)
    seg[i] = {word(b, dir + 16 * i), word(b, dir + 16 * i + 4)};
  if (!inside(b, seg[kGuidSegment], guid_at, 16)) return kTypeLibCantLoad;
  std::memcpy(info.libid, entry_at(b, seg[kGuidSegment], guid_at), 16);
  info.lcid = word(b, 0x0C);
  info.syskind = varflags & 0x0f;
  info.major = static_cast<uint16_t>(word(b, 0x18) & 0xffff);
  info.minor = static_cast<uint16_t>(word(b, 0x18) >> 16);
  info.flags = word(b, 0x1C) & 0xffff;
  uint32_t help = word(b, 0x24);
  info.has_help_string = help != 0xffffffffu;
  if (info.has_help_string && read_help_string(b, seg[kStringSegment], help, info.help_string) != 0)
    return kTypeLibCantLoad;
  uint32_t name = word(b, 0x38);
  if (name != 0xffffffffu && read_name(b, seg[kNameSegment], name, info.name) != 0)
    return kTypeLibCantLoad;
  return 0;
}

namespace {

std::string guid_text(const unsigned char* g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                g[0] | g[1] << 8 | g[2] << 16 | static_cast<unsigned>(g[3]) << 24, g[4] | g[5] << 8,
                g[6] | g[7] << 8, g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

// Creates root\path and sets its default value to text; when only_if_empty,
// a default value that is already there is left alone.
bool set_default(const std::string& path, const std::string& text, bool only_if_empty = false) {
  RegKey key = kNoKey;
  if (reg_create_key(1, path.c_str(), &key) != kRegOk) return false;
  uint32_t type = 0, size = 0;
  bool ok = true;
  if (!only_if_empty || reg_query_value(key, "", &type, nullptr, &size) != kRegOk)
    ok = reg_set_value(key, "", kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1)) ==
         kRegOk;
  reg_close_key(key);
  return ok;
}

const char* kind_name(uint32_t syskind) {
  switch (syskind) {
    case 0:
      return "win16";
    case 1:
      return "win32";
    case 3:
      return "win64";
    default:
      return nullptr;
  }
}

}  // namespace

int32_t register_type_library_posix(const char* path) {
  std::string bytes;
  int rc = store_read(native_path(path), bytes);
  if (rc == 1) return kFileNotFound;
  if (rc != 0) return kTypeLibCantLoad;
  TypeLibInfo info;
  int32_t hr = read_type_library(bytes, info);
  if (hr != 0) return hr;
  const char* kind = kind_name(info.syskind);
  if (!kind) return kTypeLibCantLoad;
  char version[24], lcid[16];
  std::snprintf(version, sizeof version, "%x.%x", info.major, info.minor);
  std::snprintf(lcid, sizeof lcid, "%x", info.lcid);
  std::string base = "TypeLib\\" + guid_text(info.libid) + "\\" + version;
  std::string full = path;
  size_t cut = full.find_last_of("\\/");
  std::string help_dir = cut == std::string::npos ? std::string() : full.substr(0, cut);
  char flags[16];
  std::snprintf(flags, sizeof flags, "%u", info.flags);
  RegKey key = kNoKey;
  if (reg_create_key(1, base.c_str(), &key) != kRegOk) return kTypeLibRegistryAccess;
  bool ok = !info.has_help_string ||
            reg_set_value(key, "", kRegSz, info.help_string.c_str(),
                          static_cast<uint32_t>(info.help_string.size() + 1)) == kRegOk;
  reg_close_key(key);
  ok = ok && set_default(base + "\\" + lcid + "\\" + kind, full);
  ok = ok && set_default(base + "\\FLAGS", flags);
  ok = ok && set_default(base + "\\HELPDIR", help_dir, true);
  return ok ? 0 : kTypeLibRegistryAccess;
}

}  // namespace rz::plat
