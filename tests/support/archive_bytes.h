// Archives built byte by byte, independent of the archive writer, so that a
// misunderstanding shared by writer and reader cannot hide.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rztest {

struct RawEntry {
  uint8_t sig_last = 4;  // "QG" 03 04, or 05 for a continued entry
  uint16_t version_needed = 16;
  uint16_t attributes = 0x20;
  uint16_t method = 2;
  uint16_t mod_time = 0;
  uint16_t mod_date = 0x21;
  uint32_t crc32 = 0;
  uint32_t packed_size = 0;  // set from data when left 0xFFFFFFFF
  uint32_t unpacked_size = 0;
  uint16_t reserved_22 = 0, reserved_24 = 0, reserved_26 = 0;
  uint32_t reserved_28 = 0;
  std::string name;
  std::string directory;
  std::vector<uint8_t> data;  // encryption header and compressed data, as stored
  bool size_from_data = true;
};

inline void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline std::vector<uint8_t> entry_bytes(const RawEntry& e) {
  std::vector<uint8_t> b = {'Q', 'G', 3, e.sig_last};
  put_le(b, e.version_needed, 2);
  put_le(b, e.attributes, 2);
  put_le(b, e.method, 2);
  put_le(b, e.mod_time, 2);
  put_le(b, e.mod_date, 2);
  put_le(b, e.crc32, 4);
  put_le(b, e.size_from_data ? static_cast<uint32_t>(e.data.size()) : e.packed_size, 4);
  put_le(b, e.unpacked_size, 4);
  put_le(b, e.reserved_22, 2);
  put_le(b, e.reserved_24, 2);
  put_le(b, e.reserved_26, 2);
  put_le(b, e.reserved_28, 4);
  put_le(b, static_cast<uint32_t>(e.name.size()), 2);
  put_le(b, static_cast<uint32_t>(e.directory.size()), 2);
  b.insert(b.end(), e.name.begin(), e.name.end());
  b.insert(b.end(), e.directory.begin(), e.directory.end());
  b.insert(b.end(), e.data.begin(), e.data.end());
  return b;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace rztest
