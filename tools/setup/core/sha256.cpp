// SHA-256 through OpenSSL's SHA256_Init/Update/Final.  OpenSSL 3 marks them
// deprecated in favour of EVP, whose static link weighs megabytes; these
// three are what the setup program needs.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sha256.h"

#include <openssl/sha.h>

#include <vector>

#include "file_reader.h"

namespace qgsetup {

static_assert(sizeof(SHA256_CTX) <= 128, "Sha256's storage holds a SHA256_CTX");

Sha256::Sha256() {
  SHA256_Init(reinterpret_cast<SHA256_CTX*>(ctx_));
}

void Sha256::update(const void* data, size_t size) {
  SHA256_Update(reinterpret_cast<SHA256_CTX*>(ctx_), data, size);
}

std::array<uint8_t, 32> Sha256::final() {
  std::array<uint8_t, 32> d;
  SHA256_Final(d.data(), reinterpret_cast<SHA256_CTX*>(ctx_));
  return d;
}

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
