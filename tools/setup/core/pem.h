// Ed25519 keys in PEM, in the DER forms of RFC 8410 that OpenSSL reads and
// writes: the private key as unencrypted PKCS#8 (`openssl genpkey
// -algorithm ed25519`), the public key as SubjectPublicKeyInfo (`openssl
// pkey -pubout`).  Both DER forms have a fixed prefix before the key's 32
// bytes, so no ASN.1 parser is needed, and a key written on one system
// reads on the other.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qgsetup {

enum PemResult : int { kPemOk = 0, kPemNoBlock = 1, kPemBadBase64 = 2 };

// The DER of the first PEM block labelled `label` ("PUBLIC KEY") in `text`.
// Returns a PemResult.
int pem_decode(const std::string& text, const std::string& label, std::vector<uint8_t>* der);

// A PEM block as OpenSSL writes it: BEGIN line, Base64 in lines of 64, END
// line, each ended by "\n".
std::string pem_encode(const std::string& label, const uint8_t* der, size_t size);

// The 32-byte seed of an unencrypted PKCS#8 Ed25519 private key in PEM.
// Returns 0, or 1 with *error.
int parse_private_key_pem(const std::string& text, std::array<uint8_t, 32>* seed,
                          std::string* error);

// The PEM texts of a private key (from its seed) and of a public key.
std::string private_key_pem(const std::array<uint8_t, 32>& seed);
std::string public_key_pem(const std::array<uint8_t, 32>& key);

}  // namespace qgsetup
