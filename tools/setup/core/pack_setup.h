// The packer's side of installers: turns folders and an install script into
// [setup program][setup data][archive], and the keys and signatures of
// signed installers.  Linked by qg only (it needs the archive writer and
// OpenSSL's key functions, which the setup program must not carry).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "setup_data.h"

namespace qgsetup {

struct PackSetupOptions {
  std::vector<std::string> inputs;  // folders (their contents) and files
  std::string output;
  std::string script;        // install script file
  std::string stub;          // the setup program to put first
  std::string sign_key;      // PEM private key, or "" for unsigned
  bool dereference = false;  // pack links leading outside as what they point to
  int level = 6;
  std::optional<std::string> password;
};

struct PackSetupReport {
  uint32_t files = 0, directories = 0, links = 0;
  uint64_t size = 0;
  std::string fingerprint;            // signer's key, when signed
  std::vector<std::string> warnings;  // things kept differently or not at all
};

// One item found in the inputs, with the file whose bytes it stores.
struct ScannedItem {
  PayloadItem item;
  std::string source;
};

// Walks the inputs in a fixed order (bytes of the names), recording what the
// setup data keeps.  A link leading outside its folder is an error unless
// `dereference`; a name with a backslash is an error; set-user/group-ID bits
// are dropped and other surprises noted in *warnings.  Returns 0 or 1 with
// *error.
int scan_payload(const std::vector<std::string>& inputs, bool dereference,
                 std::vector<ScannedItem>* out, std::vector<std::string>* warnings,
                 std::string* error);

// Writes the installer to a temporary file beside `output` and renames it
// into place when complete; on failure nothing is left.  Returns 0 or 1
// with *error.
int pack_installer(const PackSetupOptions& options, PackSetupReport* report, std::string* error);

// What a plain archive of `inputs` cannot keep (execute bits, links, empty
// folders, seconds of the times), one line each.
std::vector<std::string> plain_pack_losses(const std::vector<std::string>& inputs);

// Warnings for a path that Windows cannot create, or that is longer than the
// library's 255-character paths once put under `target`.
void name_warnings(const std::string& path, const std::string& target,
                   std::vector<std::string>* warnings);

// The value of `key` in section `section` of an INI text (names compared
// without case, surrounding blanks and one pair of quotes removed), or "".
std::string ini_value(const std::string& text, const std::string& section, const std::string& key);

// Keys: an Ed25519 pair written as `openssl genpkey -algorithm ed25519` and
// `openssl pkey -pubout` write them: NAME.pem (mode 0600) and NAME.pub.pem.
// Existing files are not replaced.  Returns 0 or 1 with *error.
int generate_key_pair(const std::string& name, std::string* fingerprint, std::string* error);

// Signs a 32-byte digest with the PEM private key at `key_path` (Ed25519).
int sign_digest(const std::string& key_path, const Digest& digest, Digest* public_key,
                std::array<uint8_t, 64>* signature, std::string* error);

}  // namespace qgsetup
