#include "codec/crc32.h"

#include <array>

namespace rz {

namespace {

constexpr std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}

constexpr std::array<uint32_t, 256> kTable = make_table();

uint32_t g_running_crc = 0;

}  // namespace

const uint32_t kCrcTable[256] = {
#define RZ_T(i) kTable[i]
#define RZ_T4(i) RZ_T(i), RZ_T(i + 1), RZ_T(i + 2), RZ_T(i + 3)
#define RZ_T16(i) RZ_T4(i), RZ_T4(i + 4), RZ_T4(i + 8), RZ_T4(i + 12)
#define RZ_T64(i) RZ_T16(i), RZ_T16(i + 16), RZ_T16(i + 32), RZ_T16(i + 48)
    RZ_T64(0), RZ_T64(64), RZ_T64(128), RZ_T64(192)
#undef RZ_T64
#undef RZ_T16
#undef RZ_T4
#undef RZ_T
};

uint32_t crc_update(uint32_t crc, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = crc_step(crc, data[i]);
  return crc;
}

void running_crc_reset() { g_running_crc = 0xFFFFFFFFu; }

uint32_t running_crc_add(const uint8_t* data, size_t n) {
  g_running_crc = crc_update(g_running_crc, data, n);
  return g_running_crc;
}

uint32_t running_crc_value() { return g_running_crc; }
void running_crc_set(uint32_t value) { g_running_crc = value; }

}  // namespace rz
