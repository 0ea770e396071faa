#include "archive/format.h"

#include <cstdio>

namespace rz {

void parse_entry_header(const unsigned char raw[kEntryHeaderSize], EntryHeader* out) {
  out->version_needed = load_le16(raw + 0);
  out->attributes = load_le16(raw + 2);
  out->method = load_le16(raw + 4);
  out->mod_time = load_le16(raw + 6);
  out->mod_date = load_le16(raw + 8);
  out->crc32 = load_le32(raw + 10);
  out->packed_size = load_le32(raw + 14);
  out->unpacked_size = load_le32(raw + 18);
  out->reserved_22 = load_le16(raw + 22);
  out->reserved_24 = load_le16(raw + 24);
  out->reserved_26 = load_le16(raw + 26);
  out->reserved_28 = load_le32(raw + 28);
  out->name_length = load_le16(raw + 32);
  out->directory_length = load_le16(raw + 34);
}

std::string volume_name(const std::string& previous_path, const char* mark, int number) {
  // The extension is the last component's text from its last dot on.
  size_t component = previous_path.find_last_of("\\/:");
  size_t start = component == std::string::npos ? 0 : component + 1;
  size_t dot = previous_path.rfind('.');
  std::string stem =
      (dot != std::string::npos && dot >= start) ? previous_path.substr(0, dot) : previous_path;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02d", number);
  return stem + mark + digits;
}

}  // namespace rz
