// Ed25519 verification with libsodium.
#include <sodium.h>

#include "ed25519.h"

namespace qgsetup {

int ed25519_verify(const std::array<uint8_t, 64>& signature, const uint8_t* message, size_t size,
                   const std::array<uint8_t, 32>& key) {
  // No sodium_init(): Ed25519 verification makes no run-time choice of
  // implementation, and sodium_init() would link every primitive's
  // (chacha, salsa, poly1305, blake2b, argon2) into the setup program.
  int r = crypto_sign_ed25519_verify_detached(signature.data(), message, size, key.data());
  return r == 0 ? 0 : 1;
}

}  // namespace qgsetup
