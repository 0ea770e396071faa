// The setup data: the packer's record of an installation, between the setup
// program and the archive.  A versioned binary record; the reader checks
// every length and value before it is used, since the bytes come from a file.
//
// Layout (little-endian):
//   0    magic "QGSETUPD" (8)
//   8    u32 version (1)
//   12   u32 slot size (256)
//   16   integrity slot (256), left out of every digest (which for a PE
//        setup program also leave out what Authenticode signing writes,
//        pe_signing.h):
//          0   u32 flags (kSlotArchiveCrc, kSlotSigned)
//          4   u32 archive CRC: SFXSIG over the archive (when under 2 GiB)
//          8   SHA-256 of the whole file without the slot (32)
//          40  SHA-256 of the setup program part (32)
//          72  SHA-256 of the setup data without the slot (32)
//          104 Ed25519 public key of the signer (32)
//          136 Ed25519 signature of the 32-byte whole-file digest (64)
//          200 reserved, zero (56)
//   272  u64 archive length; u32 entry count
//        text script name; text script; text licence name; text licence
//        u32 item count, then per item:
//          u8 kind; u32 mode; i64 mtime (seconds since 1970, UTC);
//          u32 archive entry (files) or 0xFFFFFFFF; text path; text link target
//   A text is a u32 length and that many bytes (no terminator).
//   Nothing may follow the last item.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qgsetup {

inline constexpr uint32_t kSetupDataVersion = 1;
inline constexpr size_t kSlotOffset = 16;  // from the start of the setup data
inline constexpr size_t kSlotSize = 256;
inline constexpr size_t kSetupBodyOffset = kSlotOffset + kSlotSize;

inline constexpr uint32_t kSlotArchiveCrc = 1;  // archive_crc holds SFXSIG's value
inline constexpr uint32_t kSlotSigned = 2;      // public_key and signature are set

// Limits of the reader (the packer refuses what would exceed them).
inline constexpr size_t kMaxPathBytes = 4095;
inline constexpr size_t kMaxNameBytes = 255;        // script and licence file names
inline constexpr size_t kMaxTextBytes = 16u << 20;  // script, licence
inline constexpr uint32_t kMaxItems = 1u << 22;

inline constexpr uint32_t kNoEntry = 0xFFFFFFFFu;

using Digest = std::array<uint8_t, 32>;

enum class ItemKind : uint8_t { file = 0, directory = 1, symlink = 2 };

// One thing the payload holds.  Paths are relative to the payload's root,
// '/'-separated, the bytes of the name as they were on disk.  Parents come
// before their children.
struct PayloadItem {
  ItemKind kind = ItemKind::file;
  uint32_t mode = 0;          // permission bits and sticky bit (never set-user/group-ID)
  int64_t mtime = 0;          // seconds
  uint32_t entry = kNoEntry;  // archive entry of a file, counted from 0
  std::string path;
  std::string link_target;  // symbolic links: the target text
};

struct IntegritySlot {
  uint32_t flags = 0;
  uint32_t archive_crc = 0;
  Digest file_sha256{};
  Digest stub_sha256{};
  Digest setup_sha256{};
  Digest public_key{};
  std::array<uint8_t, 64> signature{};
};

struct SetupData {
  IntegritySlot slot;
  uint64_t archive_length = 0;
  uint32_t entry_count = 0;
  std::string script_name;   // file name of the install script
  std::string script;        // its text
  std::string license_name;  // file name of the licence, "" when none
  std::string license;
  std::vector<PayloadItem> items;
};

// Encodes `data`, after checking it as the reader would.  Returns 0, or 1
// with a message in *error.
int encode_setup_data(const SetupData& data, std::vector<uint8_t>* out, std::string* error);

// Decodes `size` bytes.  Returns 0, or 1 with a message in *error (the
// record is damaged or of another version); *out is then unspecified.
int decode_setup_data(const uint8_t* bytes, size_t size, SetupData* out, std::string* error);

// The 256 slot bytes, alone (the packer rewrites them last).
void encode_slot(const IntegritySlot& slot, uint8_t* out);
int decode_slot(const uint8_t* in, IntegritySlot* out, std::string* error);

// A payload path: not empty, relative, no empty, "." or ".." component, no
// NUL byte, at most kMaxPathBytes.  Returns 0 or 1 with *error.
int check_item_path(const std::string& path, std::string* error);

// A link target that stays inside the payload when read from the link's
// folder: relative, and no ".." past the root.  Returns 0 or 1 with *error.
int check_link_target(const std::string& link_path, const std::string& target, std::string* error);

// Everything the reader requires of a decoded record: paths, parents before
// children, no duplicates, modes, entry indices, link targets.
int check_setup_data(const SetupData& data, std::string* error);

}  // namespace qgsetup
