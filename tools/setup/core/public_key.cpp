// Reading an Ed25519 public key file (pem.cpp decodes it): without
// OpenSSL's key machinery, which the setup program does not link.
#include "file_reader.h"
#include "installer.h"

namespace qgsetup {

namespace {

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

}  // namespace

int read_public_key_pem(const std::string& path, Digest* key, std::string* error) {
  // A PEM public key is a few hundred bytes; more is not one.
  char buf[4096];
  FileReader in;
  int64_t n = in.open(path) ? -1 : in.read(buf, sizeof buf);
  if (n < 0) return fail(error, "cannot read the key file " + path);
  if (parse_public_key_pem(std::string(buf, static_cast<size_t>(n)), key, error)) {
    if (error) *error += ": " + path;
    return 1;
  }
  return 0;
}

}  // namespace qgsetup
