// Ed25519 public keys in PEM: what `openssl pkey -pubout` writes, read
// without OpenSSL's key machinery (which the setup program does not link).
#include <cstring>
#include <vector>

#include "file_reader.h"
#include "installer.h"

namespace qgsetup {

namespace {

// DER SubjectPublicKeyInfo of an Ed25519 key (RFC 8410) before its 32 bytes.
constexpr unsigned char kSpkiPrefix[12] = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03,
                                           0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
constexpr const char* kBegin = "-----BEGIN PUBLIC KEY-----";
constexpr const char* kEnd = "-----END PUBLIC KEY-----";

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes Base64, skipping line breaks and spaces.  Returns 0 or 1.
int base64_decode(const std::string& text, std::vector<unsigned char>* out) {
  uint32_t acc = 0;
  int bits = 0, pad = 0;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == ' ' || c == '\t') continue;
    if (c == '=') {
      ++pad;
      continue;
    }
    int v = base64_value(c);
    if (v < 0 || pad) return 1;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<unsigned char>(acc >> bits));
    }
  }
  return pad > 2 ? 1 : 0;
}

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

}  // namespace

int parse_public_key_pem(const std::string& text, Digest* key, std::string* error) {
  size_t begin = text.find(kBegin), end = text.find(kEnd);
  if (begin == std::string::npos || end == std::string::npos || end < begin)
    return fail(error, "not a PEM public key (no BEGIN PUBLIC KEY block)");
  begin += std::strlen(kBegin);
  std::vector<unsigned char> der;
  if (base64_decode(text.substr(begin, end - begin), &der))
    return fail(error, "damaged PEM public key (bad Base64)");
  if (der.size() != sizeof kSpkiPrefix + 32 ||
      std::memcmp(der.data(), kSpkiPrefix, sizeof kSpkiPrefix))
    return fail(error, "not an Ed25519 public key");
  std::memcpy(key->data(), der.data() + sizeof kSpkiPrefix, 32);
  return 0;
}

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
