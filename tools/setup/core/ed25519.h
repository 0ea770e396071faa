// Ed25519 verification (pure Ed25519, RFC 8032) for the installer's
// publisher signature: libsodium on POSIX (ed25519_sodium.cpp), libgcrypt
// in the Windows builds (ed25519_gcrypt.cpp).  A Windows build configured
// without libgcrypt defines QGSETUP_NO_ED25519 and links neither.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qgsetup {

// Returns 0 when `signature` is a valid signature of the `size` bytes at
// `message` by the raw public key `key`, 1 otherwise (a malformed key or
// signature included).
int ed25519_verify(const std::array<uint8_t, 64>& signature, const uint8_t* message, size_t size,
                   const std::array<uint8_t, 32>& key);

// Windows builds: makes libgcrypt ready once (no secure memory: its
// warning would have no console to go to in the setup program, and these
// keys are public or read from a file anyway).  Returns 0, or 1 when the
// linked library is unusable.
int gcrypt_start();

}  // namespace qgsetup
