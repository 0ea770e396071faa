// Reading an installer without running it: where its parts are, whether it
// is intact and signed, and its setup data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pe_signing.h"
#include "setup_data.h"

namespace qgsetup {

struct InstallerLayout {
  uint64_t file_length = 0;        // the file's length now
  uint64_t anchor_offset = 0;      // where the anchor record lies in the setup program
  uint64_t setup_data_offset = 0;  // = length of the setup program part
  uint64_t setup_data_length = 0;
  uint64_t archive_offset = 0;   // setup_data_offset + setup_data_length
  uint64_t recorded_length = 0;  // the whole file's length when it was packed
  // A setup program that is a PE file: where Authenticode signing writes.
  // Its CheckSum and certificate table entry are left out of every digest,
  // and a signed file carries its certificate table after recorded_length.
  PeSigningFields pe;
};

enum LocateResult : int {
  kLocateOk = 0,
  kLocateNotInstaller = 1,  // no anchor, or a setup program without payload
  kLocateUnreadable = 2,    // the file cannot be opened or read
  kLocateBadAnchor = 3,     // an anchor whose fields contradict each other
};

// Finds the anchor in the first part of `path` (the first 64 MiB) and fills
// *out, with the PE fields of a setup program that is a PE file.  The file may be shorter or longer
// than recorded: verification says which.  Returns a LocateResult; *error gets a message when not
// kLocateOk.
int locate_installer(const std::string& path, InstallerLayout* out, std::string* error = nullptr);

// Reads and decodes the setup data of a located installer.  Returns 0, or 1
// with a message (unreadable, cut short or damaged).
int read_setup_data(const std::string& path, const InstallerLayout& layout, SetupData* out,
                    std::string* error);

// What verification found; kVerifyOk is 0.
enum VerifyFailure : int {
  kVerifyOk = 0,
  kVerifyUnreadable,        // the file could not be read
  kVerifyNotInstaller,      // no anchor (not an installer, or cut before it)
  kVerifyBadLayout,         // anchor or setup data header damaged
  kVerifyTruncated,         // shorter than recorded
  kVerifyAppended,          // longer than recorded
  kVerifyStubChanged,       // the setup program part differs
  kVerifySetupDataChanged,  // the setup data differs (or cannot be decoded)
  kVerifyArchiveChanged,    // the archive part differs
  kVerifySignatureBad,      // signed, but the signature does not verify
  kVerifySignatureMissing,  // a key was required and the file is unsigned
  kVerifyWrongKey,          // signed by another key than the required one
  kVerifyCancelled,         // the progress callback asked to stop
  kVerifyCertificateTable,  // an Authenticode certificate table that is refused
};

struct VerifyOptions {
  // With require_key: refuse an unsigned file or one signed by another key.
  bool require_key = false;
  Digest required_key{};  // raw Ed25519 public key
  // Called after each block read with the bytes done and the total; false
  // stops the verification (kVerifyCancelled).  May be empty.  It runs
  // while another thread computes the archive's CRC-32 through the library,
  // so it must not call the library.
  std::function<bool(uint64_t done, uint64_t total)> progress;
};

struct VerifyResult {
  int failure = kVerifyOk;
  std::string message;  // which check failed and in which part; "" when intact
  InstallerLayout layout;
  bool is_signed = false;
  Digest signer_key{};
  bool signature_unchecked = false;  // signed, but this build cannot check Ed25519
  std::string signer_fingerprint;    // hex SHA-256 of the raw public key, when signed
  bool archive_crc_checked = false;  // false when the archive part is 2 GiB or more
  bool authenticode = false;         // a certificate table follows the archive
};

// Reads `path` once from start to end with a fixed buffer and checks, in
// order: the anchor and layout, the length against the recorded one (a
// longer file only when the rest is one Authenticode certificate table), the
// digests of the whole file and of each part, the archive's CRC-32 (SFXSIG),
// and the signature.  Returns result->failure (0 when intact).
int verify_installer(const std::string& path, const VerifyOptions& options, VerifyResult* result);

// The digests that the integrity slot records, all with the slot left out
// (and for a PE setup program its CheckSum and certificate table entry):
// the whole file up to the recorded length, the setup program part, the
// setup data.
struct InstallerDigests {
  Digest file{}, stub{}, setup{};
};

// Reads `path` once with a fixed buffer, up to layout.recorded_length, and
// computes them for `layout`.  Returns kVerifyOk,
// kVerifyUnreadable, or kVerifyCancelled when `progress` returned false.
int hash_installer(const std::string& path, const InstallerLayout& layout,
                   const std::function<bool(uint64_t done, uint64_t total)>& progress,
                   InstallerDigests* out);

// Short name of a failure for messages ("truncated", "signature does not verify").
const char* verify_failure_name(int failure);

// Reads an Ed25519 public key in the PEM form that `openssl pkey -pubout`
// writes.  Returns 0, or 1 with *error.
int read_public_key_pem(const std::string& path, Digest* key, std::string* error);
int parse_public_key_pem(const std::string& text, Digest* key, std::string* error);

// Hex SHA-256 of a raw public key: how a signer is shown to users.
std::string key_fingerprint(const Digest& key);

}  // namespace qgsetup
