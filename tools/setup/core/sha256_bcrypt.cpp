// SHA-256 through the system's hashing (bcrypt.dll), for Windows builds:
// no crypto library travels with the setup program there.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include "sha256.h"

namespace qgsetup {

namespace {

struct Handles {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};
static_assert(sizeof(Handles) <= 128, "Sha256's storage holds the two handles");

Handles* handles(unsigned char* ctx) {
  return reinterpret_cast<Handles*>(ctx);
}

}  // namespace

Sha256::Sha256() {
  Handles* h = new (ctx_) Handles;
  // The system allocates the hash object itself (no object buffer given).
  if (BCryptOpenAlgorithmProvider(&h->alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
      BCryptCreateHash(h->alg, &h->hash, nullptr, 0, nullptr, 0, 0) != 0)
    h->hash = nullptr;
}

void Sha256::update(const void* data, size_t size) {
  Handles* h = handles(ctx_);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (h->hash && size > 0) {
    ULONG n = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    BCryptHashData(h->hash, const_cast<PUCHAR>(p), n, 0);
    p += n;
    size -= n;
  }
}

std::array<uint8_t, 32> Sha256::final() {
  Handles* h = handles(ctx_);
  // A hash that could not be made gives all zeros, which no digest in a
  // file compares equal to by chance: verification then fails.
  std::array<uint8_t, 32> d{};
  if (h->hash) {
    if (BCryptFinishHash(h->hash, d.data(), static_cast<ULONG>(d.size()), 0) != 0) d.fill(0);
    BCryptDestroyHash(h->hash);
    h->hash = nullptr;
  }
  if (h->alg) BCryptCloseAlgorithmProvider(h->alg, 0);
  h->alg = nullptr;
  return d;
}

}  // namespace qgsetup
