// Verification of an installer: one sequential pass over the file with a
// fixed buffer (no mapping of the whole file), digests with the integrity
// slot left out, the archive's CRC-32 through the library, the signature.
#include <algorithm>
#include <array>
#include <cstring>
#ifndef _WIN32
#include <thread>
#endif
#include <vector>

#include "ed25519.h"
#include "file_reader.h"
#include "installer.h"
#include "pe_signing.h"
#include "raziza3z.h"
#include "sha256.h"

namespace qgsetup {

namespace {

constexpr size_t kBlock = 1u << 20;
constexpr uint64_t kCrcLimit = 0x7FFFFFFF;  // SFXSIG takes a signed 32-bit length

int set(VerifyResult* r, int failure, const std::string& message) {
  r->failure = failure;
  r->message = message;
  return failure;
}

// Which part of the installer the byte at `offset` belongs to.
const char* part_at(const InstallerLayout& l, uint64_t offset) {
  if (offset < l.setup_data_offset) return "the setup program";
  if (offset < l.archive_offset) return "the setup data";
  return "the archive";
}

int check_length(const InstallerLayout& l, VerifyResult* r) {
  if (l.file_length < l.recorded_length)
    return set(r, kVerifyTruncated,
               "truncated: the file has " + std::to_string(l.file_length) + " bytes of the " +
                   std::to_string(l.recorded_length) + " it was packed with (" +
                   part_at(l, l.file_length) + " is cut short)");
  if (l.file_length > l.recorded_length)
    return set(r, kVerifyAppended,
               "bytes appended after the end: " +
                   std::to_string(l.file_length - l.recorded_length) + " bytes follow the " +
                   std::to_string(l.recorded_length) + " bytes the installer was packed with");
  return kVerifyOk;
}

// The length check of a PE installer whose certificate table entry is set:
// the file may be longer than recorded by exactly its padding and one
// certificate table, and by nothing else.
int check_signed_length(FileReader& in, const InstallerLayout& l, VerifyResult* r) {
  if (l.file_length < l.recorded_length) return check_length(l, r);
  if (l.file_length == l.recorded_length)
    return set(r, kVerifyCertificateTable,
               "the certificate table entry is set, but no certificate table follows the "
               "archive");
  std::string why;
  switch (check_certificate_table(in, l.recorded_length, l.file_length, l.pe, &why)) {
    case kCertOk:
      r->authenticode = true;
      return kVerifyOk;
    case kCertUnreadable:
      return set(r, kVerifyUnreadable, why);
    case kCertAfterTable:
      return set(r, kVerifyAppended, "bytes appended after the end: " + why);
    case kCertCutShort:
      return set(r, kVerifyTruncated, "truncated: " + why);
    default:
      return set(r, kVerifyCertificateTable, why);
  }
}

// A range of the file that the digests leave out.
struct Hole {
  uint64_t from, to;
};

// The slot, and for a PE setup program the two header fields that
// Authenticode signing writes; in file order.
std::vector<Hole> holes_of(const InstallerLayout& l) {
  std::vector<Hole> holes;
  if (l.pe.present) {
    holes.push_back({l.pe.checksum_offset, l.pe.checksum_offset + 4});
    holes.push_back({l.pe.security_offset, l.pe.security_offset + 8});
  }
  uint64_t slot = l.setup_data_offset + kSlotOffset;
  holes.push_back({slot, slot + kSlotSize});
  return holes;
}

// Feeds [from, to) of a block that starts at file offset `base` to h.
void feed(Sha256& h, const unsigned char* block, uint64_t base, uint64_t size, uint64_t from,
          uint64_t to) {
  uint64_t lo = from > base ? from : base;
  uint64_t hi = to < base + size ? to : base + size;
  if (lo < hi) h.update(block + (lo - base), static_cast<size_t>(hi - lo));
}

// Feeds the bytes of [from, to) that no hole covers (holes sorted and
// disjoint), of a block that starts at file offset `base`, to h.
void feed_around(Sha256& h, const unsigned char* block, uint64_t base, uint64_t size, uint64_t from,
                 uint64_t to, const std::vector<Hole>& holes) {
  uint64_t at = from;
  for (const Hole& hole : holes) {
    if (hole.to <= at) continue;
    if (hole.from >= to) break;
    feed(h, block, base, size, at, hole.from);
    at = hole.to;
  }
  feed(h, block, base, size, at, to);
}

}  // namespace

int hash_installer(const std::string& path, const InstallerLayout& l,
                   const std::function<bool(uint64_t, uint64_t)>& progress, InstallerDigests* d) {
  FileReader in;
  if (in.open(path)) return kVerifyUnreadable;
  std::vector<unsigned char> buf(kBlock);
  std::vector<Hole> holes = holes_of(l);
  // A certificate table after the recorded length is not the installer's.
  const uint64_t end = l.recorded_length;
  Sha256 file, stub, setup;
  if (in.seek(0)) return kVerifyUnreadable;
  for (uint64_t base = 0; base < end;) {
    int64_t got =
        in.read(buf.data(), static_cast<size_t>(std::min<uint64_t>(buf.size(), end - base)));
    if (got <= 0) return kVerifyUnreadable;
    uint64_t n = static_cast<uint64_t>(got);
    feed_around(file, buf.data(), base, n, 0, end, holes);
    feed_around(stub, buf.data(), base, n, 0, l.setup_data_offset, holes);
    feed_around(setup, buf.data(), base, n, l.setup_data_offset, l.archive_offset, holes);
    base += n;
    if (progress && !progress(base, end)) return kVerifyCancelled;
  }
  d->file = file.final();
  d->stub = stub.final();
  d->setup = setup.final();
  return kVerifyOk;
}

namespace {

int compare_digests(const IntegritySlot& s, const InstallerDigests& d, VerifyResult* r) {
  if (d.stub != s.stub_sha256)
    return set(r, kVerifyStubChanged, "the setup program part has changed (SHA-256 mismatch)");
  if (d.setup != s.setup_sha256)
    return set(r, kVerifySetupDataChanged, "the setup data has changed (SHA-256 mismatch)");
  // The other two parts match, so what differs is the archive.
  if (d.file != s.file_sha256)
    return set(r, kVerifyArchiveChanged, "the archive part has changed (SHA-256 mismatch)");
  return kVerifyOk;
}

// The archive's CRC-32 as SFXSIG computes it, or `kNoCrc` when the slot
// has none or the archive is too long for SFXSIG's signed length;
// `kCrcUnreadable` when the file could not be read.
constexpr uint64_t kNoCrc = UINT64_MAX;
constexpr uint64_t kCrcUnreadable = UINT64_MAX - 1;

// SFXSIG's register (reflected CRC-32, polynomial 0xEDB88320, started at all
// ones, not complemented) over [from, to) of `path`: for a signed file,
// whose archive is no longer the file's tail.  Returns 0, or 1 when the
// file cannot be read.
int crc_register_of(const std::string& path, uint64_t from, uint64_t to, uint32_t* out) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  FileReader in;
  std::vector<unsigned char> buf(kBlock);
  uint32_t reg = 0xFFFFFFFFu;
  if (in.open(path) || in.seek(from)) return 1;
  for (uint64_t at = from; at < to;) {
    int64_t got = in.read(buf.data(), static_cast<size_t>(std::min<uint64_t>(buf.size(), to - at)));
    if (got <= 0) return 1;
    for (int64_t i = 0; i < got; ++i)
      reg = table[(reg ^ buf[static_cast<size_t>(i)]) & 0xFF] ^ (reg >> 8);
    at += static_cast<uint64_t>(got);
  }
  *out = reg;
  return 0;
}

uint64_t archive_crc(const std::string& path, const InstallerLayout& l, const IntegritySlot& s) {
  uint64_t length = l.recorded_length - l.archive_offset;
  if (!(s.flags & kSlotArchiveCrc) || length > kCrcLimit) return kNoCrc;
  if (l.file_length == l.recorded_length) return SFXSIG(path.c_str(), static_cast<int32_t>(length));
  uint32_t reg = 0;
  return crc_register_of(path, l.archive_offset, l.recorded_length, &reg) ? kCrcUnreadable : reg;
}

int check_archive_crc(uint64_t crc, const IntegritySlot& s, VerifyResult* r) {
  if (crc == kNoCrc) return kVerifyOk;
  if (crc == kCrcUnreadable) return set(r, kVerifyUnreadable, "cannot read the archive part");
  if (crc != s.archive_crc)
    return set(r, kVerifyArchiveChanged, "the archive part has changed (CRC-32 mismatch)");
  r->archive_crc_checked = true;
  return kVerifyOk;
}

int check_signature(const IntegritySlot& s, const Digest& file_digest, const VerifyOptions& o,
                    VerifyResult* r) {
  if (s.flags & kSlotSigned) {
    r->is_signed = true;
    r->signer_key = s.public_key;
    r->signer_fingerprint = key_fingerprint(s.public_key);
#ifdef QGSETUP_NO_ED25519
    // A build without an Ed25519 implementation relies on the system's
    // signature of the file (Authenticode); it says so rather than guess.
    (void)file_digest;
    r->signature_unchecked = true;
#else
    if (ed25519_verify(s.signature, file_digest.data(), file_digest.size(), s.public_key))
      return set(r, kVerifySignatureBad,
                 "the signature does not verify (key " + r->signer_fingerprint + ")");
#endif
  }
  if (!o.require_key) return kVerifyOk;
#ifdef QGSETUP_NO_ED25519
  // A key match proves nothing without checking the signature itself.
  return set(r, kVerifySignatureBad, "this build cannot check Ed25519 signatures");
#endif
  if (!r->is_signed)
    return set(r, kVerifySignatureMissing,
               "the installer is not signed, and a signature is required");
  if (s.public_key != o.required_key)
    return set(r, kVerifyWrongKey,
               "signed by another key (" + r->signer_fingerprint + ") than the one required (" +
                   key_fingerprint(o.required_key) + ")");
  return kVerifyOk;
}

int locate_failure(int located) {
  switch (located) {
    case kLocateUnreadable:
      return kVerifyUnreadable;
    case kLocateNotInstaller:
      return kVerifyNotInstaller;
    default:
      return kVerifyBadLayout;
  }
}

}  // namespace

int verify_installer(const std::string& path, const VerifyOptions& options, VerifyResult* result) {
  *result = VerifyResult();
  std::string why;
  int located = locate_installer(path, &result->layout, &why);
  if (located != kLocateOk) return set(result, locate_failure(located), why);
  const InstallerLayout& l = result->layout;
  FileReader in;
  if (in.open(path)) return set(result, kVerifyUnreadable, "cannot read " + path);
  bool table_entry = l.pe.present && (l.pe.table_offset != 0 || l.pe.table_size != 0);
  if (int r = table_entry ? check_signed_length(in, l, result) : check_length(l, result)) return r;
  unsigned char raw[kSlotSize];
  IntegritySlot slot;
  if (in.seek(l.setup_data_offset + kSlotOffset) || in.read_exact(raw, kSlotSize))
    return set(result, kVerifyUnreadable, "cannot read " + path);
  if (decode_slot(raw, &slot, &why))
    return set(result, kVerifySetupDataChanged, "the setup data has changed: " + why);
  // SFXSIG reads the archive part a second time: on a thread of its own it
  // runs beside the hashing instead of after it.  Nothing else calls the
  // library meanwhile (the progress callback must not).
  uint64_t crc = kNoCrc;
  InstallerDigests d;
#ifdef _WIN32
  int hashed = hash_installer(path, l, options.progress, &d);
  crc = archive_crc(path, l, slot);
#else
  std::thread crc_thread([&] { crc = archive_crc(path, l, slot); });
  int hashed = hash_installer(path, l, options.progress, &d);
  crc_thread.join();
#endif
  if (hashed)
    return set(result, hashed,
               hashed == kVerifyCancelled ? "verification cancelled" : "cannot read " + path);
  if (int r = compare_digests(slot, d, result)) return r;
  if (int r = check_archive_crc(crc, slot, result)) return r;
  return check_signature(slot, d.file, options, result);
}

const char* verify_failure_name(int failure) {
  switch (failure) {
    case kVerifyOk:
      return "intact";
    case kVerifyUnreadable:
      return "unreadable";
    case kVerifyNotInstaller:
      return "not an installer";
    case kVerifyBadLayout:
      return "damaged anchor";
    case kVerifyTruncated:
      return "truncated";
    case kVerifyAppended:
      return "bytes appended after the end";
    case kVerifyStubChanged:
      return "setup program changed";
    case kVerifySetupDataChanged:
      return "setup data changed";
    case kVerifyArchiveChanged:
      return "archive changed";
    case kVerifySignatureBad:
      return "signature does not verify";
    case kVerifySignatureMissing:
      return "signature missing";
    case kVerifyWrongKey:
      return "signed by another key";
    case kVerifyCancelled:
      return "cancelled";
    case kVerifyCertificateTable:
      return "certificate table refused";
  }
  return "unknown";
}

std::string key_fingerprint(const Digest& key) {
  Sha256 h;
  h.update(key.data(), key.size());
  Digest d = h.final();
  return hex(d.data(), d.size());
}

}  // namespace qgsetup
