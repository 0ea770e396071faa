// SHA-256, streaming: from OpenSSL's plain functions on POSIX (which use the
// CPU's SHA instructions where it has them, and add little to a static
// program; sha256.cpp), from the system's bcrypt.dll on Windows
// (sha256_bcrypt.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qgsetup {

class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t size);
  // The digest of everything added; the object is then spent.
  std::array<uint8_t, 32> final();

 private:
  // Room for OpenSSL's SHA256_CTX (112 bytes) or the system's handles, kept
  // opaque so that callers need no OpenSSL or Windows header.
  alignas(8) unsigned char ctx_[128];
};

// SHA-256 of a whole file, read with a fixed buffer.  Returns 0, or 1 when
// the file cannot be read.
int sha256_file(const std::string& path, std::array<uint8_t, 32>* out);

// Lower-case hex of bytes.
std::string hex(const uint8_t* data, size_t size);

}  // namespace qgsetup
