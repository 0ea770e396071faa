// The anchor: a fixed record inside the setup program that the packer finds
// (exactly once) in its copy of the program and fills in, so that an
// installer knows where its setup data and archive begin without being told.
//
// File layout of an installer:
//   [setup program, anchor filled in][setup data][archive up to the end]
//
// Anchor bytes (64, little-endian):
//   0  magic (16)              kAnchorMagic
//   16 u32 version             1
//   20 u32 size                64
//   24 u64 setup_data_offset   0 in a setup program without payload
//   32 u64 setup_data_length
//   40 u64 file_length         length of the whole installer
//   48 reserved (16)           zero
#pragma once

#include <cstddef>
#include <cstdint>

namespace qgsetup {

inline constexpr size_t kAnchorSize = 64;
inline constexpr size_t kAnchorMagicSize = 16;
inline constexpr uint32_t kAnchorVersion = 1;

struct SetupAnchor {
  unsigned char magic[kAnchorMagicSize];
  unsigned char version[4];
  unsigned char size[4];
  unsigned char setup_data_offset[8];
  unsigned char setup_data_length[8];
  unsigned char file_length[8];
  unsigned char reserved[16];
};
static_assert(sizeof(SetupAnchor) == kAnchorSize, "the anchor is 64 bytes on every platform");

// The values an anchor carries.
struct AnchorFields {
  uint32_t version = 0;
  uint32_t size = 0;
  uint64_t setup_data_offset = 0;
  uint64_t setup_data_length = 0;
  uint64_t file_length = 0;
};

// This program's own anchor.  The setup program calls it so that the linker
// keeps the record; the packer patches the copy in the file.
const SetupAnchor* setup_anchor();

// The 16 magic bytes, copied from the anchor at run time (no second copy of
// them exists in the program, so the packer finds exactly one).
void anchor_magic(unsigned char out[kAnchorMagicSize]);

// Decodes the 64 bytes at `bytes` (which begin with the magic).
AnchorFields decode_anchor(const unsigned char* bytes);

// Writes `fields` into the 64 bytes at `bytes`, keeping the magic.
void encode_anchor(const AnchorFields& fields, unsigned char* bytes);

// Offset of the first magic in data[0, size) at or after `from`, or `size`.
size_t find_anchor_magic(const unsigned char* data, size_t size, size_t from);

}  // namespace qgsetup
