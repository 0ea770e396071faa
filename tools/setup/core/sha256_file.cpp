// The SHA-256 helpers that do not depend on the implementation.
#include <vector>

#include "file_reader.h"
#include "sha256.h"

namespace qgsetup {

int sha256_file(const std::string& path, std::array<uint8_t, 32>* out) {
  FileReader in;
  if (in.open(path)) return 1;
  std::vector<unsigned char> buf(1u << 18);
  Sha256 h;
  for (;;) {
    int64_t n = in.read(buf.data(), buf.size());
    if (n < 0) return 1;
    if (n == 0) break;
    h.update(buf.data(), static_cast<size_t>(n));
  }
  *out = h.final();
  return 0;
}

std::string hex(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

}  // namespace qgsetup
