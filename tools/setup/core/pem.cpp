// PEM blocks and the fixed DER forms of Ed25519 keys (RFC 8410).
#include "pem.h"

#include <algorithm>
#include <cstring>

#include "installer.h"

namespace qgsetup {

namespace {

// DER SubjectPublicKeyInfo of an Ed25519 key before its 32 bytes.
constexpr uint8_t kSpkiPrefix[12] = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03,
                                     0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
// DER PKCS#8 PrivateKeyInfo, version 0, of an Ed25519 key before its
// 32-byte seed (an OCTET STRING inside the OCTET STRING).
constexpr uint8_t kPkcs8Prefix[16] = {0x30, 0x2e, 0x02, 0x01, 0x00, 0x30, 0x05, 0x06,
                                      0x03, 0x2b, 0x65, 0x70, 0x04, 0x22, 0x04, 0x20};
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(char c) {
  const char* at = c ? std::strchr(kAlphabet, c) : nullptr;
  return at ? static_cast<int>(at - kAlphabet) : -1;
}

// Decodes Base64, skipping line breaks and blanks; '=' only at the end.
// Returns 0 or 1.
int base64_decode(const std::string& text, std::vector<uint8_t>* out) {
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
      out->push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return pad > 2 ? 1 : 0;
}

std::string base64_encode(const uint8_t* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; i += 3) {
    uint32_t n = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < size) n |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < size) n |= data[i + 2];
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < size ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < size ? kAlphabet[n & 63] : '=';
  }
  return out;
}

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

}  // namespace

int pem_decode(const std::string& text, const std::string& label, std::vector<uint8_t>* der) {
  const std::string begin = "-----BEGIN " + label + "-----", end = "-----END " + label + "-----";
  size_t from = text.find(begin);
  size_t to = from == std::string::npos ? from : text.find(end, from);
  if (to == std::string::npos) return kPemNoBlock;
  from += begin.size();
  der->clear();
  return base64_decode(text.substr(from, to - from), der) ? kPemBadBase64 : kPemOk;
}

std::string pem_encode(const std::string& label, const uint8_t* der, size_t size) {
  std::string b64 = base64_encode(der, size);
  std::string out = "-----BEGIN " + label + "-----\n";
  for (size_t i = 0; i < b64.size(); i += 64) out += b64.substr(i, 64) + "\n";
  return out + "-----END " + label + "-----\n";
}

int parse_public_key_pem(const std::string& text, Digest* key, std::string* error) {
  std::vector<uint8_t> der;
  int r = pem_decode(text, "PUBLIC KEY", &der);
  if (r == kPemNoBlock) return fail(error, "not a PEM public key (no BEGIN PUBLIC KEY block)");
  if (r) return fail(error, "damaged PEM public key (bad Base64)");
  if (der.size() != sizeof kSpkiPrefix + 32 ||
      std::memcmp(der.data(), kSpkiPrefix, sizeof kSpkiPrefix))
    return fail(error, "not an Ed25519 public key");
  std::memcpy(key->data(), der.data() + sizeof kSpkiPrefix, 32);
  return 0;
}

int parse_private_key_pem(const std::string& text, std::array<uint8_t, 32>* seed,
                          std::string* error) {
  std::vector<uint8_t> der;
  int r = pem_decode(text, "PRIVATE KEY", &der);
  if (r == kPemNoBlock)
    return fail(error, "not an unencrypted PEM private key (no BEGIN PRIVATE KEY block)");
  if (r) return fail(error, "damaged PEM private key (bad Base64)");
  bool ok = der.size() == sizeof kPkcs8Prefix + 32 &&
            std::memcmp(der.data(), kPkcs8Prefix, sizeof kPkcs8Prefix) == 0;
  if (ok) std::memcpy(seed->data(), der.data() + sizeof kPkcs8Prefix, 32);
  // The decoded seed is a secret: no copy stays behind.
  std::fill(der.begin(), der.end(), uint8_t{0});
  return ok ? 0 : fail(error, "not an Ed25519 private key in PKCS#8");
}

std::string private_key_pem(const std::array<uint8_t, 32>& seed) {
  uint8_t der[sizeof kPkcs8Prefix + 32];
  std::memcpy(der, kPkcs8Prefix, sizeof kPkcs8Prefix);
  std::memcpy(der + sizeof kPkcs8Prefix, seed.data(), 32);
  std::string pem = pem_encode("PRIVATE KEY", der, sizeof der);
  std::memset(der, 0, sizeof der);
  return pem;
}

std::string public_key_pem(const std::array<uint8_t, 32>& key) {
  uint8_t der[sizeof kSpkiPrefix + 32];
  std::memcpy(der, kSpkiPrefix, sizeof kSpkiPrefix);
  std::memcpy(der + sizeof kSpkiPrefix, key.data(), 32);
  return pem_encode("PUBLIC KEY", der, sizeof der);
}

}  // namespace qgsetup
