#include "archive_tools.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace qg {

namespace {

uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool is_entry_signature(const unsigned char* p) {
  return p[0] == 'Q' && p[1] == 'G' && p[2] == 3 && (p[3] == 4 || p[3] == 5);
}

// Walks entries from `pos`; true when the chain ends cleanly at the end of
// the file, at an end marker, or at an entry that continues in a volume.
bool chain_is_consistent(const std::vector<unsigned char>& f, uint64_t pos) {
  for (int guard = 0; guard < 1000000; ++guard) {
    if (pos == f.size()) return true;
    if (pos + 4 > f.size()) return false;
    uint32_t sig = le32(&f[pos]);
    if (sig == 0 || sig == 0x06034751) return true;
    if (!is_entry_signature(&f[pos])) return false;
    if (pos + 40 > f.size()) return false;
    const unsigned char* h = &f[pos + 4];
    uint64_t next = pos + 40 + le16(h + 32) + le16(h + 34) + le32(h + 14);
    if (le16(h + 32) > 255 || le16(h + 34) > 255) return false;
    if (f[pos + 3] == 5) return next >= f.size();
    if (next > f.size()) return false;
    pos = next;
  }
  return false;
}

}  // namespace

int find_first_entry(const std::string& path, uint32_t* offset) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 1;
  std::vector<unsigned char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (f.size() < 4 || is_entry_signature(f.data())) {
    *offset = 0;
    return 0;
  }
  for (size_t i = 1; i + 4 <= f.size() && i <= 0xFFFFFFFFu; ++i) {
    if (f[i] == 'Q' && is_entry_signature(&f[i]) && chain_is_consistent(f, i)) {
      *offset = static_cast<uint32_t>(i);
      return 0;
    }
  }
  *offset = 0;
  return 0;
}

int resolve_offset(const std::string& path, const std::string& text, uint32_t* offset) {
  if (text == "auto") return find_first_entry(path, offset);
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || *end != 0 || v > 0xFFFFFFFFull) return 1;
  *offset = static_cast<uint32_t>(v);
  return 0;
}

std::string nextloop_message(int32_t code) {
  switch (code) {
    case 0: return "entry read";
    case 1: return "end of archive";
    case 2: return "not an archive of this format";
    case 8: return "damaged archive";
    case 21: return "cannot open the archive";
    case 24: return "archive ends with a stop signature";
    case 25: return "this is a ZIP archive, not an archive of this format";
    default: return "error " + std::to_string(code);
  }
}

std::string unpack_message(int32_t code) {
  switch (code) {
    case 0: return "ok";
    case -1: return "skipped: the file exists";
    case -2: return "cancelled";
    case -22: return "kept the existing file";
    case -30: return "cancelled";
    case 6: return "no entry positioned";
    case 7: return "cannot create the directory";
    case 8: return "entry cut short";
    case 15: return "cannot replace or create the output file";
    case 20: return "cannot write the output file";
    case 21: return "cannot open the archive";
    case 28: return "cannot read the next volume";
    case 31: return "CRC-32 mismatch";
    case 32: return "entry needs a newer version of the library";
    case 34: return "out of memory";
    case 36: return "invalid compressed data";
    case 37: return "compressed data ends before the last block";
    case 38: return "size does not match the entry header";
    case 39: return "invalid compressed data (table)";
    case 50: return "wrong password";
    case 52: return "empty name";
    case 53: return "stored directory would leave the destination";
    default: return "error " + std::to_string(code);
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
