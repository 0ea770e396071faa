// ExtractState: the one process-wide record of extraction state, shared by
// the archive walk, the extraction of an entry and the compressed-data source.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace rz {

// The compressed-data source reads the archive through this buffer.  It is
// larger than a sector so that big entries need few system calls.
constexpr uint32_t kInputBufferSize = 64 * 1024;

// A folder that extraction wrote into, kept open between calls: it is used
// again only while its path provably still names it (the same identity), so
// that the levels below the destination are not walked for every file.
struct KeptFolder {
  plat::DirHandle dir = plat::kNoDir;
  std::string key;  // what it was opened for: the root's path, or root and levels
  plat::FileIdentity id;
};

struct ExtractState {
  // Texts are held whole, whatever their length.
  std::string archive_path;
  plat::FileHandle archive_handle = plat::kNoFile;
  int64_t archive_length = 0;
  plat::FileHandle output_handle = plat::kNoFile;
  uint32_t data_start = 0;
  // Positions in the file in use.  The exports carry 32 bits of them; inside
  // they are 64-bit, so that the scan behind an entry of up to 4 GiB - 1
  // reaches the end of its file instead of wrapping round into its data.
  uint64_t scan_position = 0;
  uint64_t read_position = 0;
  uint64_t entry_offset = 0;
  // Bytes of the entry the walk read last behind its signature (header,
  // texts and data): how much the extraction reads at once.  Only a hint.
  uint64_t entry_span = 0;
  bool entry_positioned = false;
  uint32_t entry_packed_size = 0;
  uint32_t entry_unpacked_size = 0;
  bool entry_encrypted = false;
  bool spanned_archive = false;
  int32_t volume_number = 1;
  // Counters of the entry's data: its size is an unsigned 32-bit field, so
  // they are wider than that, never signed 32-bit.
  uint64_t bytes_in_prior_volumes = 0;
  uint64_t volume_bytes_consumed = 0;
  uint64_t entry_bytes_consumed = 0;
  int64_t input_remaining = 0;
  int32_t input_buffered = 0;
  uint32_t input_cursor = 0;     // index of the next unread byte of input_buffer
  uint32_t input_plain_end = 0;  // bytes of input_buffer before this index are decrypted
  bool input_failed = false;
  // Filler bytes handed out past the entry's data.  The inflater may look one
  // byte ahead; a second means the stream runs on past its data.
  uint32_t input_fillers = 0;
  bool quiet = false;
  bool test_only = false;
  bool progress_enabled = false;
  void* owner_window = nullptr;
  std::string password;
  std::string rename_to;
  // The destination folder as the host named it, and the folder below it
  // that received the last file; released when a scan ends or is reset.
  KeptFolder kept_root, kept_folder;
  unsigned char input_buffer[kInputBufferSize];
};

// The process-wide record.  It is set up by static initialisation when the
// library is loaded (zero, volume 1, buffer in place), so no load
// notification is needed.
ExtractState& extract_state();

// Per-entry clean-up that ends every extraction once the archive was opened:
// closes the output (unless test-only) and archive files, resets the
// per-entry counters, the read position and RunningCrc.
void entry_cleanup();

// Copy a host's text into a store and return the stored copy (never null,
// never throws).
const char* store_text(std::string& store, const char* text);

// Close the archive file if one is open.
void close_archive();

// Close the kept folders (QEN_RESETDLL).
void release_kept_folders();

}  // namespace rz
