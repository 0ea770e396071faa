// Entry decryption: the three key registers of the traditional stream cipher
// used for encrypted entries, set up from the host's password.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rz {

struct CipherKeys {
  uint32_t key0;
  uint32_t key1;
  uint32_t key2;
};

// Load the initial key values and fold in each byte of the password up to its
// NUL (only the low 8 bits of a character count).  A null password is taken
// as empty.
void keys_init(const char* password);
// Advance the keys by one plain byte.
void keys_update(uint8_t plain);
// The byte the next enciphered byte is XORed with; the keys do not change.
uint8_t keystream_byte();
// Decrypt n bytes in place, advancing the keys once per byte; the result is
// the same as decrypting them one at a time.
void decrypt_span(uint8_t* data, size_t n);
// Encrypt n bytes in place (the inverse of decrypt_span, for writers and tests).
void encrypt_span(uint8_t* data, size_t n);
// The registers as they stand (for tests and for saving around a header check).
CipherKeys keys_get();
void keys_set(const CipherKeys& keys);

}  // namespace rz
