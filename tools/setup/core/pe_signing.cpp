// The fields of a PE file that Authenticode signing writes, and the
// certificate table it appends.
#include "pe_signing.h"

#include <cstring>

#include "file_reader.h"

namespace qgsetup {

namespace {

// Offsets in the PE headers, from the start of the optional header.
constexpr uint64_t kChecksumField = 64;
constexpr uint64_t kDirectoryCountPe32 = 92, kDirectoriesPe32 = 96;
constexpr uint64_t kDirectoryCountPe64 = 108, kDirectoriesPe64 = 112;
constexpr uint64_t kSecurityDirectory = 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY
constexpr uint64_t kDirectorySize = 8;
constexpr uint64_t kCoffHeader = 4 + 20;  // "PE\0\0" and the file header
constexpr uint64_t kCertHeader = 8;       // dwLength, wRevision, wCertificateType

uint64_t get_le(const unsigned char* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

int set_why(std::string* why, const std::string& message, int code) {
  if (why) *why = message;
  return code;
}

// Whether in's bytes [from, to) are all zero (to - from is below 8).
int zero_bytes(FileReader& in, uint64_t from, uint64_t to, bool* zero) {
  unsigned char buf[8] = {};
  size_t n = static_cast<size_t>(to - from);
  if (n == 0) {
    *zero = true;
    return 0;
  }
  if (in.seek(from) || in.read_exact(buf, n)) return 1;
  *zero = true;
  for (size_t i = 0; i < n; ++i) *zero = *zero && buf[i] == 0;
  return 0;
}

// The one WIN_CERTIFICATE record that fills [start, start + size).
int check_record(FileReader& in, uint64_t start, uint64_t size, std::string* why) {
  unsigned char head[kCertHeader];
  if (size < kCertHeader)
    return set_why(why, "the certificate table is too short to hold a record", kCertBad);
  if (in.seek(start) || in.read_exact(head, kCertHeader))
    return set_why(why, "cannot read the certificate table", kCertUnreadable);
  uint64_t length = get_le(head, 4), revision = get_le(head + 4, 2), type = get_le(head + 6, 2);
  if (length < kCertHeader || length > size)
    return set_why(why,
                   "the certificate table does not parse (record length " + std::to_string(length) +
                       " in a table of " + std::to_string(size) + " bytes)",
                   kCertBad);
  // Revisions 1.0 and 2.0; types X.509, PKCS#7 signed data, reserved, TS stack.
  if ((revision != 0x0100 && revision != 0x0200) || type < 1 || type > 4)
    return set_why(why, "the certificate table does not parse (unknown revision or type)",
                   kCertBad);
  uint64_t padded = (length + 7) & ~uint64_t{7};
  if (padded > size)
    return set_why(why, "the certificate table is not a multiple of 8 bytes", kCertBad);
  if (padded < size)
    return set_why(why,
                   std::to_string(size - padded) +
                       " bytes follow the certificate record (a second record or other data)",
                   kCertAfterTable);
  bool zero = false;
  if (zero_bytes(in, start + length, start + padded, &zero))
    return set_why(why, "cannot read the certificate table", kCertUnreadable);
  if (!zero) return set_why(why, "the certificate record's padding is not zero", kCertBad);
  return kCertOk;
}

}  // namespace

int parse_pe_signing_fields(const unsigned char* head, size_t size, uint64_t stub_length,
                            PeSigningFields* out) {
  uint64_t avail = size < stub_length ? size : stub_length;
  if (avail < 2 || head[0] != 'M' || head[1] != 'Z') return kPeNone;
  if (avail < 64) return kPeDamaged;
  uint64_t pe = get_le(head + 0x3C, 4);
  if (pe > avail || avail - pe < kCoffHeader + 2 || std::memcmp(head + pe, "PE\0\0", 4) != 0)
    return kPeDamaged;
  uint64_t optional = pe + kCoffHeader;
  uint64_t optional_size = get_le(head + pe + 4 + 16, 2);
  uint64_t magic = get_le(head + optional, 2), count_at = 0, dirs_at = 0;
  if (magic == 0x10b) {
    count_at = kDirectoryCountPe32;
    dirs_at = kDirectoriesPe32;
  } else if (magic == 0x20b) {
    count_at = kDirectoryCountPe64;
    dirs_at = kDirectoriesPe64;
  } else {
    return kPeDamaged;
  }
  // The certificate entry must lie inside the optional header as declared
  // and inside the bytes at hand (optional <= avail from the check above).
  uint64_t security = dirs_at + kSecurityDirectory * kDirectorySize;
  if (optional_size < security + kDirectorySize || avail - optional < security + kDirectorySize)
    return kPeDamaged;
  if (get_le(head + optional + count_at, 4) <= kSecurityDirectory) return kPeDamaged;
  out->present = true;
  out->checksum_offset = optional + kChecksumField;
  out->security_offset = optional + security;
  out->table_offset = static_cast<uint32_t>(get_le(head + optional + security, 4));
  out->table_size = static_cast<uint32_t>(get_le(head + optional + security + 4, 4));
  return kPeOk;
}

int check_certificate_table(FileReader& in, uint64_t archive_end, uint64_t file_length,
                            const PeSigningFields& pe, std::string* why) {
  // Both are 32-bit values: their sum in 64 bits cannot wrap.
  uint64_t start = pe.table_offset, end = start + pe.table_size;
  if (start < archive_end || start - archive_end >= 8 || start % 8 != 0)
    return set_why(why,
                   "the certificate table entry (offset " + std::to_string(start) +
                       ") does not point at the 8-byte boundary after the archive (" +
                       std::to_string(archive_end) + ")",
                   kCertBad);
  if (end > file_length)
    return set_why(why,
                   "the file ends inside its certificate table (" +
                       std::to_string(end - file_length) + " bytes missing)",
                   kCertCutShort);
  if (end < file_length)
    return set_why(why,
                   std::to_string(file_length - end) +
                       " bytes follow the certificate table (appended, or a second table)",
                   kCertAfterTable);
  bool zero = false;
  if (zero_bytes(in, archive_end, start, &zero))
    return set_why(why, "cannot read the certificate table", kCertUnreadable);
  if (!zero) return set_why(why, "the padding before the certificate table is not zero", kCertBad);
  return check_record(in, start, pe.table_size, why);
}

}  // namespace qgsetup
