// The setup program's anchor record and its encoding.
#include "anchor.h"

#include <cstring>

namespace qgsetup {

// The one copy of the magic in the program.  Not const: the compiler would
// then also write its value into the debug information (a second copy for
// the packer to find) and could fold its fields.  Nothing writes it at run
// time; external linkage and "used" keep it while setup_anchor() is linked.
[[gnu::used]] SetupAnchor g_setup_anchor = {
    {0x89, 'Q', 'G', 'S', 'E', 'T', 'U', 'P', '-', 'A', 'N', 'C', 'H', 0x0D, 0x0A, 0x1A},
    {kAnchorVersion, 0, 0, 0},
    {kAnchorSize, 0, 0, 0},
    {},
    {},
    {},
    {}};

namespace {

uint64_t get_le(const unsigned char* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void put_le(unsigned char* p, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

const SetupAnchor* setup_anchor() {
  const SetupAnchor* p = &g_setup_anchor;
  // The packer changes the record in the file: the compiler must not fold
  // its fields into constants, so the pointer is opaque to it.
  asm volatile("" : "+r"(p));
  return p;
}

void anchor_magic(unsigned char out[kAnchorMagicSize]) {
  std::memcpy(out, setup_anchor()->magic, kAnchorMagicSize);
}

AnchorFields decode_anchor(const unsigned char* bytes) {
  AnchorFields f;
  f.version = static_cast<uint32_t>(get_le(bytes + 16, 4));
  f.size = static_cast<uint32_t>(get_le(bytes + 20, 4));
  f.setup_data_offset = get_le(bytes + 24, 8);
  f.setup_data_length = get_le(bytes + 32, 8);
  f.file_length = get_le(bytes + 40, 8);
  return f;
}

void encode_anchor(const AnchorFields& fields, unsigned char* bytes) {
  put_le(bytes + 16, fields.version, 4);
  put_le(bytes + 20, fields.size, 4);
  put_le(bytes + 24, fields.setup_data_offset, 8);
  put_le(bytes + 32, fields.setup_data_length, 8);
  put_le(bytes + 40, fields.file_length, 8);
  std::memset(bytes + 48, 0, 16);
}

size_t find_anchor_magic(const unsigned char* data, size_t size, size_t from) {
  unsigned char magic[kAnchorMagicSize];
  anchor_magic(magic);
  if (size < kAnchorMagicSize) return size;
  for (size_t i = from; i + kAnchorMagicSize <= size; ++i) {
    const void* hit = std::memchr(data + i, magic[0], size - kAnchorMagicSize + 1 - i);
    if (!hit) return size;
    i = static_cast<size_t>(static_cast<const unsigned char*>(hit) - data);
    if (std::memcmp(data + i, magic, kAnchorMagicSize) == 0) return i;
  }
  return size;
}

}  // namespace qgsetup
