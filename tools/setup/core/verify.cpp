// Verification of an installer: one sequential pass over the file with a
// fixed buffer (no mapping of the whole file), digests with the integrity
// slot left out, the archive's CRC-32 through the library, the signature.
#ifndef QGSETUP_NO_ED25519
#include <sodium.h>
#endif

#include <cstring>
#ifndef _WIN32
#include <thread>
#endif
#include <vector>

#include "file_reader.h"
#include "installer.h"
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

// Feeds [from, to) of a block that starts at file offset `base` to h.
void feed(Sha256& h, const unsigned char* block, uint64_t base, uint64_t size, uint64_t from,
          uint64_t to) {
  uint64_t lo = from > base ? from : base;
  uint64_t hi = to < base + size ? to : base + size;
  if (lo < hi) h.update(block + (lo - base), static_cast<size_t>(hi - lo));
}

}  // namespace

int hash_installer(const std::string& path, const InstallerLayout& l,
                   const std::function<bool(uint64_t, uint64_t)>& progress, InstallerDigests* d) {
  FileReader in;
  if (in.open(path)) return kVerifyUnreadable;
  std::vector<unsigned char> buf(kBlock);
  uint64_t slot = l.setup_data_offset + kSlotOffset, slot_end = slot + kSlotSize;
  Sha256 file, stub, setup;
  if (in.seek(0)) return kVerifyUnreadable;
  for (uint64_t base = 0; base < l.file_length;) {
    int64_t got = in.read(buf.data(), buf.size());
    if (got <= 0) return kVerifyUnreadable;
    uint64_t n = static_cast<uint64_t>(got);
    feed(file, buf.data(), base, n, 0, slot);
    feed(file, buf.data(), base, n, slot_end, UINT64_MAX);
    feed(stub, buf.data(), base, n, 0, l.setup_data_offset);
    feed(setup, buf.data(), base, n, l.setup_data_offset, slot);
    feed(setup, buf.data(), base, n, slot_end, l.archive_offset);
    base += n;
    if (progress && !progress(base, l.file_length)) return kVerifyCancelled;
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
// has none or the archive is too long for SFXSIG's signed length.
constexpr uint64_t kNoCrc = UINT64_MAX;

uint64_t archive_crc(const std::string& path, const InstallerLayout& l, const IntegritySlot& s) {
  uint64_t length = l.file_length - l.archive_offset;
  if (!(s.flags & kSlotArchiveCrc) || length > kCrcLimit) return kNoCrc;
  return SFXSIG(path.c_str(), static_cast<int32_t>(length));
}

int check_archive_crc(uint64_t crc, const IntegritySlot& s, VerifyResult* r) {
  if (crc == kNoCrc) return kVerifyOk;
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
    // No sodium_init(): Ed25519 verification makes no run-time choice of
    // implementation, and sodium_init() would link every primitive's
    // (chacha, salsa, poly1305, blake2b, argon2) into the setup program.
    if (crypto_sign_ed25519_verify_detached(s.signature.data(), file_digest.data(),
                                            file_digest.size(), s.public_key.data()) != 0)
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
  if (int r = check_length(l, result)) return r;
  FileReader in;
  unsigned char raw[kSlotSize];
  IntegritySlot slot;
  if (in.open(path) || in.seek(l.setup_data_offset + kSlotOffset) || in.read_exact(raw, kSlotSize))
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
