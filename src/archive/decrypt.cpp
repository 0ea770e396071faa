#include "archive/decrypt.h"

#include "codec/crc32.h"

namespace rz {

namespace {
// Process-wide, like the rest of the extraction state: one entry at a time.
CipherKeys g_keys = {0, 0, 0};

inline void advance(CipherKeys& k, uint8_t plain) {
  k.key0 = crc_step(k.key0, plain);
  k.key1 = (k.key1 + (k.key0 & 0xFF)) * 134775813u + 1;
  k.key2 = crc_step(k.key2, static_cast<uint8_t>(k.key1 >> 24));
}

inline uint8_t stream_byte(const CipherKeys& k) {
  // A 16-bit product: t * (t ^ 1) stays below 2^32, so no overflow to worry about.
  uint32_t t = (k.key2 | 2) & 0xFFFF;
  return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}
}  // namespace

void keys_init(const char* password) {
  g_keys = {0x12345678u, 0x23456789u, 0x34567890u};
  if (!password) return;
  for (const char* p = password; *p; ++p) advance(g_keys, static_cast<uint8_t>(*p));
}

void keys_update(uint8_t plain) {
  advance(g_keys, plain);
}

uint8_t keystream_byte() {
  return stream_byte(g_keys);
}

void decrypt_span(uint8_t* data, size_t n) {
  CipherKeys k = g_keys;  // a local copy keeps the registers in machine registers
  for (size_t i = 0; i < n; ++i) {
    uint8_t plain = static_cast<uint8_t>(data[i] ^ stream_byte(k));
    advance(k, plain);
    data[i] = plain;
  }
  g_keys = k;
}

void encrypt_span(uint8_t* data, size_t n) {
  CipherKeys k = g_keys;
  for (size_t i = 0; i < n; ++i) {
    uint8_t plain = data[i];
    data[i] = static_cast<uint8_t>(plain ^ stream_byte(k));
    advance(k, plain);
  }
  g_keys = k;
}

CipherKeys keys_get() {
  return g_keys;
}
void keys_set(const CipherKeys& keys) {
  g_keys = keys;
}

}  // namespace rz
