// The archive writer: makes archives in exactly the format the library reads.
// It is a separate component (qg and the tests use it); the library itself
// only reads archives.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace qgw {

// What follows the last entry.
enum class End { none, zeros, stop };

struct Entry {
  std::string name;         // stored file name (at most 255 bytes)
  std::string directory;    // stored directory: "" or beginning with a backslash
  std::string source_path;  // file whose content is stored; empty: use data
  std::vector<uint8_t> data;
  uint16_t dos_time = 0;
  uint16_t dos_date = (1 << 5) | 1;  // 1980-01-01
  uint16_t attributes = 0x20;        // archive bit; the encryption bit is set by the writer
  // Header fields chosen by a test instead of computed ones.
  std::optional<uint16_t> version_needed;
  std::optional<uint16_t> method;
  std::optional<uint32_t> crc32;
  std::optional<uint32_t> packed_size;
  std::optional<uint32_t> unpacked_size;
  uint16_t reserved_22 = 0, reserved_24 = 0, reserved_26 = 0;
  uint32_t reserved_28 = 0;
  // Bytes stored verbatim as the compressed data (before encryption).
  std::optional<std::vector<uint8_t>> raw_data;
};

struct Options {
  int level = 6;                        // zlib level 0-9
  std::optional<std::string> password;  // encrypt every entry with it
  uint64_t volume_size = 0;             // 0: one file
  std::vector<uint8_t> stub;            // self-extracting program put before the entries
  End end = End::none;
  uint32_t seed = 0;  // 0: random encryption headers; else reproducible
};

struct Report {
  uint32_t first_entry_offset = 0;   // where the entries begin in the first file
  std::vector<std::string> volumes;  // every file written, first volume first
  uint32_t entries = 0;
};

// Writes the archive to `path` (and its volumes).  Returns 0, or 1 with a
// message in *error.
int write_archive(const std::string& path, const std::vector<Entry>& entries,
                  const Options& options, Report* report, std::string* error);

// An entry for a file on disk: its name, stored directory, and the time,
// date and attributes taken from the file.  Returns 0 or 1 with *error.
int entry_from_file(const std::string& file, const std::string& name, const std::string& directory,
                    Entry* out, std::string* error);

// Every file below `folder`, with stored directories relative to it
// ("\sub\deeper"), in a stable order.  Returns 0 or 1 with *error.
int entries_from_folder(const std::string& folder, std::vector<Entry>* out, std::string* error);

// MS-DOS date and time of a moment in local time; the seconds field holds
// seconds / 4, which the reader doubles twice.
void dos_date_time(std::time_t when, uint16_t* date, uint16_t* time);

// Raw DEFLATE (no wrapper) of a buffer at a zlib level and memory level (a
// lower memory level ends blocks sooner).
std::vector<uint8_t> deflate_raw(const std::vector<uint8_t>& data, int level, int mem_level = 8);

// Name of volume `number` after `previous`: without its extension, then ".-NN".
std::string next_volume_name(const std::string& previous, int number);

}  // namespace qgw
