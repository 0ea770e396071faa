// Ed25519 verification with libgcrypt (Windows builds, linked statically):
// an EdDSA check over the raw message, which is what libsodium's detached
// verification is.
#include <gcrypt.h>

#include "ed25519.h"

namespace qgsetup {

namespace {

struct Sexp {
  gcry_sexp_t s = nullptr;
  ~Sexp() { gcry_sexp_release(s); }
};

}  // namespace

int gcrypt_start() {
  static const int started = [] {
    // The version check is also what initialises the library; it must come
    // before any other call.
    if (!gcry_check_version(GCRYPT_VERSION)) return 1;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return 0;
  }();
  return started;
}

int ed25519_verify(const std::array<uint8_t, 64>& signature, const uint8_t* message, size_t size,
                   const std::array<uint8_t, 32>& key) {
  if (gcrypt_start() || size > 0x7FFFFFFF) return 1;
  Sexp pub, data, sig;
  // "flags eddsa" asks for RFC 8032's pure Ed25519: the message itself is
  // hashed with SHA-512 inside the scheme (no prehash).
  if (gcry_sexp_build(&pub.s, nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))",
                      static_cast<int>(key.size()), key.data()) ||
      gcry_sexp_build(&data.s, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                      static_cast<int>(size), message) ||
      gcry_sexp_build(&sig.s, nullptr, "(sig-val(eddsa(r %b)(s %b)))", 32, signature.data(), 32,
                      signature.data() + 32))
    return 1;
  return gcry_pk_verify(sig.s, data.s, pub.s) == 0 ? 0 : 1;
}

}  // namespace qgsetup
