// The archive format as the reader sees it: signatures, the entry header and
// the volume file names.
#pragma once

#include <cstdint>
#include <string>

#include "raziza3z.h"

namespace rz {

constexpr uint32_t kSigEntry = 0x04034751;      // "QG" 03 04
constexpr uint32_t kSigContinued = 0x05034751;  // "QG" 03 05: data runs into the next volume
constexpr uint32_t kSigStop = 0x06034751;       // "QG" 03 06
constexpr uint32_t kSigZip = 0x04034B50;        // "PK" 03 04, recognised only to refuse it

constexpr uint32_t kSignatureSize = 4;
constexpr uint32_t kEntryHeaderSize = 36;
constexpr uint32_t kEncryptionHeaderSize = 12;
constexpr uint32_t kMaxTextLength = 255;  // name and directory fit EntryInfo
constexpr uint16_t kMethodDeflate = 2;
constexpr uint16_t kMaxVersionNeeded = 16;

inline uint16_t load_le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load_le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Decode the 36 stored bytes field by field (independent of host byte order).
void parse_entry_header(const unsigned char raw[kEntryHeaderSize], EntryHeader* out);

// Name of volume `number` that follows the volume at `previous_path`: the
// previous name without its extension, then `mark` (".-" or "._") and the
// number in two digits.
std::string volume_name(const std::string& previous_path, const char* mark, int number);

}  // namespace rz
