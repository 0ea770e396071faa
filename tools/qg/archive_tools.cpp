#include "archive_tools.h"

#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "commands.h"
#include "exit_codes.h"

namespace qg {

namespace {

uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool is_entry_signature(const unsigned char* p) {
  return p[0] == 'Q' && p[1] == 'G' && p[2] == 3 && (p[3] == 4 || p[3] == 5);
}

// Reads n bytes at pos; false when the file has fewer.
bool read_at(std::ifstream& in, uint64_t pos, unsigned char* out, size_t n) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(pos));
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
  return static_cast<size_t>(in.gcount()) == n;
}

// True when the bytes from pos to the end of the file are an end marker:
// four zero bytes (fewer at the very end read as zeros) or the stop
// signature, and nothing behind it.
bool is_end_marker(std::ifstream& in, uint64_t size, uint64_t pos) {
  unsigned char m[4] = {0, 0, 0, 0};
  if (size - pos > 4 || !read_at(in, pos, m, static_cast<size_t>(size - pos))) return false;
  uint32_t sig = le32(m);
  return sig == 0 || (sig == 0x06034751 && size - pos == 4);
}

// Walks entries from `pos` by their headers; true when the chain reaches the
// end of the file exactly, or an end marker that ends the file, or an entry
// that continues in a volume (its data running past the end).  A stray
// signature inside a program rarely has such a chain behind it.
bool chain_is_consistent(std::ifstream& in, uint64_t size, uint64_t pos) {
  for (int guard = 0; guard < 1000000; ++guard) {
    if (pos == size) return true;
    unsigned char h[40];
    if (!read_at(in, pos, h, std::min<uint64_t>(4, size - pos))) return false;
    if (!is_entry_signature(h)) return is_end_marker(in, size, pos);
    if (!read_at(in, pos, h, 40)) return false;
    uint16_t nl = le16(h + 36), dl = le16(h + 38);
    if (nl > 255 || dl > 255) return false;
    uint64_t data = pos + 40 + nl + dl;
    uint64_t next = data + le32(h + 18);
    if (h[3] == 5) return data <= size && next >= size;
    if (next > size) return false;
    pos = next;
  }
  return false;
}

}  // namespace

int find_first_entry(const std::string& path, uint32_t* offset) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 1;
  in.seekg(0, std::ios::end);
  uint64_t size = static_cast<uint64_t>(in.tellg());
  *offset = 0;
  unsigned char head[4];
  if (size < 4 || (read_at(in, 0, head, 4) && is_entry_signature(head))) return 0;
  // Scan in blocks (3 bytes of overlap) so memory stays small for any size.
  std::vector<unsigned char> block(1 << 20);
  for (uint64_t base = 1; base + 4 <= size && base <= 0xFFFFFFFFu; base += block.size() - 3) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), size - base));
    if (!read_at(in, base, block.data(), n)) return 1;
    for (size_t i = 0; i + 4 <= n; ++i) {
      if (block[i] == 'Q' && is_entry_signature(&block[i]) &&
          chain_is_consistent(in, size, base + i)) {
        *offset = static_cast<uint32_t>(base + i);
        return 0;
      }
    }
  }
  return 0;
}

int resolve_offset(const std::string& path, const std::string& text, uint32_t* offset) {
  if (text == "auto") return find_first_entry(path, offset);
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == '-' || *end != 0 || v > 0xFFFFFFFFull) return 1;
  *offset = static_cast<uint32_t>(v);
  return 0;
}

int start_walk(const std::string& path, const std::string& offset_text, WalkStart* start) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return fail(kExitUnusable, printable(path) + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return fail(kExitUnusable, printable(path) + ": Is a directory");
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    return fail(kExitUnusable, printable(path) + ": " + std::strerror(errno));
  }
  if (path.size() > 255) return fail(kExitUsage, "archive path longer than 255 characters");
  start->automatic = offset_text == "auto";
  if (resolve_offset(path, offset_text, &start->offset) != 0)
    return fail(start->automatic ? kExitUnusable : kExitUsage,
                start->automatic ? "cannot read " + printable(path)
                                 : "--offset wants a number from 0 to 4294967295, or auto");
  // An empty file is an archive without entries; anywhere else the walk
  // must find an entry where it starts.
  start->entry_required = !start->automatic || st.st_size > 0;
  return 0;
}

int nothing_at_start(const std::string& path, const WalkStart& start) {
  if (start.automatic) return fail(kExitUnusable, "no archive found in " + printable(path));
  return fail(kExitUnusable,
              "no entry at offset " + std::to_string(start.offset) + " of " + printable(path));
}

namespace {

// Length of the valid UTF-8 sequence at text[i] (2 to 4) and its code
// point, or 0.
size_t utf8_sequence(const std::string& text, size_t i, uint32_t* cp) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  uint32_t v = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    unsigned char t = static_cast<unsigned char>(text[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    v = (v << 6) | (t & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kMin[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return n;
}

}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t n = c < 0x80 ? 1 : utf8_sequence(text, i, &cp);
    // C0 controls, DEL, and the C1 controls, whether UTF-8 encoded
    // (U+0080-U+009F) or as single bytes (which a Latin-1 terminal obeys).
    bool control = cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F);
    if (n == 0) n = 1;
    if (control) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(cp));
      out += hex;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}

std::string nextloop_message(int32_t code) {
  switch (code) {
    case 0:
      return "entry read";
    case 1:
      return "end of archive";
    case 2:
      return "not an archive of this format";
    case 8:
      return "damaged archive";
    case 21:
      return "cannot open the archive";
    case 24:
      return "archive ends with a stop signature";
    case 25:
      return "this is a ZIP archive, not an archive of this format";
    default:
      return "error " + std::to_string(code);
  }
}

std::string unpack_message(int32_t code) {
  switch (code) {
    case 0:
      return "ok";
    case -1:
      return "skipped: the file exists";
    case -2:
      return "cancelled";
    case -22:
      return "kept the existing file";
    case -30:
      return "cancelled";
    case 6:
      return "no entry positioned";
    case 7:
      return "cannot create the directory";
    case 8:
      return "entry cut short";
    case 15:
      return "cannot replace or create the output file";
    case 20:
      return "cannot write the output file";
    case 21:
      return "cannot open the archive";
    case 28:
      return "cannot read the next volume";
    case 31:
      return "CRC-32 mismatch";
    case 32:
      return "entry needs a newer version of the library";
    case 34:
      return "out of memory";
    case 36:
      return "invalid compressed data";
    case 37:
      return "compressed data ends before the last block";
    case 38:
      return "size does not match the entry header";
    case 39:
      return "invalid compressed data (table)";
    case 50:
      return "wrong password";
    case 52:
      return "empty name";
    case 53:
      return "stored directory would leave the destination";
    default:
      return "error " + std::to_string(code);
  }
}

bool entry_name_is_safe(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.find(':') != std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

long long file_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<long long>(in.tellg()) : -1;
}

std::string entry_time_text(const EntryHeader& h) {
  unsigned seconds_field = (2u * (h.mod_time & 0x1F)) % 32;  // as extraction applies it
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (h.mod_date >> 9),
                (h.mod_date >> 5) & 0x0Fu, h.mod_date & 0x1Fu, (h.mod_time >> 11) & 0x1Fu,
                (h.mod_time >> 5) & 0x3Fu, seconds_field * 2);
  return text;
}

std::string attribute_text(uint16_t a) {
  std::string s;
  s += (a & 0x01) ? 'R' : '-';
  s += (a & 0x02) ? 'H' : '-';
  s += (a & 0x04) ? 'S' : '-';
  s += (a & 0x20) ? 'A' : '-';
  return s;
}

}  // namespace qg
