// SHA-256 through OpenSSL's SHA256_Init/Update/Final.  OpenSSL 3 marks them
// deprecated in favour of EVP, whose static link weighs megabytes; these
// three are what the setup program needs.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sha256.h"

#include <openssl/sha.h>

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

}  // namespace qgsetup
