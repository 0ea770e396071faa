// What Authenticode signing changes in an installer whose setup program is
// a PE file, so that the installer's own digests and signature can leave
// exactly that out:
//   - the optional header's CheckSum (4 bytes),
//   - data directory entry 4, the certificate table's file offset and size
//     (8 bytes),
//   - zero padding to an 8-byte boundary after the archive,
//   - one certificate table (one WIN_CERTIFICATE record: u32 length, u16
//     revision, u16 type, then the signature, zero-padded to 8 bytes) that
//     ends exactly at the end of the file.
// Every value is read from a file that may be hostile: each offset and
// length is checked against the bytes at hand, with 64-bit sums that
// cannot wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qgsetup {

class FileReader;

// How much of a setup program's start is read to find its PE headers.
inline constexpr size_t kPeHeadBytes = 64u << 10;

struct PeSigningFields {
  bool present = false;          // the setup program is a PE file
  uint64_t checksum_offset = 0;  // of the 4-byte CheckSum
  uint64_t security_offset = 0;  // of the 8-byte certificate table entry
  uint32_t table_offset = 0;     // that entry as found: the table's file offset
  uint32_t table_size = 0;       // and its length; both 0 when unsigned
};

enum PeParse : int {
  kPeNone = 0,     // not a PE file (no "MZ" at the start)
  kPeOk = 1,       // *out filled
  kPeDamaged = 2,  // starts with "MZ" but its headers do not parse
};

// Parses the PE headers found in head[0, size), the first bytes of a setup
// program of `stub_length` bytes; every field must lie inside both.
// Returns a PeParse; *out is filled only for kPeOk.
int parse_pe_signing_fields(const unsigned char* head, size_t size, uint64_t stub_length,
                            PeSigningFields* out);

// What follows the archive of a signed installer, checked in `in` (of
// `file_length` bytes): the entry in `pe` must point at a table that begins
// after `archive_end` on the next 8-byte boundary (zero bytes between), that
// holds one WIN_CERTIFICATE record that parses, and that ends at the end of
// the file.  Returns 0, or one of the codes below with *why.
enum CertificateCheck : int {
  kCertOk = 0,
  kCertUnreadable = 1,
  kCertAfterTable = 2,  // bytes follow the table, or a second one
  kCertCutShort = 3,    // the file ends inside the table
  kCertBad = 4,         // the entry or the table does not parse
};
int check_certificate_table(FileReader& in, uint64_t archive_end, uint64_t file_length,
                            const PeSigningFields& pe, std::string* why);

}  // namespace qgsetup
