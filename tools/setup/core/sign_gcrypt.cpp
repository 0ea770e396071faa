// Ed25519 keys and signatures with libgcrypt (qg.exe).  The key files are
// the same bytes OpenSSL writes on POSIX (pem.h), so a key made by either
// qg signs with the other.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <bcrypt.h>
#include <gcrypt.h>

#include <cstdio>
#include <cstring>

#include "ed25519.h"
#include "installer.h"
#include "pack_setup.h"
#include "pem.h"

namespace qgsetup {

namespace {

using Seed = std::array<uint8_t, 32>;

struct Sexp {
  gcry_sexp_t s = nullptr;
  ~Sexp() { gcry_sexp_release(s); }
};

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

// Creates `path` exclusively and writes `text` to it; nothing is left when
// that fails.  Returns 0 or 1 with *error.
int write_new(const std::string& path, const std::string& text, std::string* error) {
  int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return fail(error, "cannot create " + path + " (it may exist already)");
  bool ok = ::_write(fd, text.data(), static_cast<unsigned>(text.size())) ==
            static_cast<int>(text.size());
  ok = ::_commit(fd) == 0 && ok;
  ok = ::_close(fd) == 0 && ok;
  if (!ok) {
    ::_unlink(path.c_str());
    return fail(error, "cannot write " + path);
  }
  return 0;
}

// The public key of a seed: libgcrypt derives it when asked for "q@eddsa".
// Returns 0 or 1.
int public_of(const Seed& seed, Digest* key) {
  Sexp param;
  gcry_ctx_t ctx = nullptr;
  if (gcry_sexp_build(&param.s, nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(d %b)))", 32,
                      seed.data()) ||
      gcry_mpi_ec_new(&ctx, param.s, nullptr))
    return 1;
  gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", ctx, 1);
  unsigned int bits = 0;
  const void* bytes = q ? gcry_mpi_get_opaque(q, &bits) : nullptr;
  bool ok = bytes && bits == 256;
  if (ok) std::memcpy(key->data(), bytes, 32);
  gcry_mpi_release(q);
  gcry_ctx_release(ctx);
  return ok ? 0 : 1;
}

// Pure Ed25519 of `digest` by `seed`, whose public key is `key`.
// Returns 0 or 1.
int sign_with(const Seed& seed, const Digest& key, const Digest& digest,
              std::array<uint8_t, 64>* signature) {
  Sexp priv, data, sig;
  if (gcry_sexp_build(&priv.s, nullptr,
                      "(private-key(ecc(curve Ed25519)(flags eddsa)(q %b)(d %b)))", 32, key.data(),
                      32, seed.data()) ||
      gcry_sexp_build(&data.s, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                      static_cast<int>(digest.size()), digest.data()) ||
      gcry_pk_sign(&sig.s, data.s, priv.s))
    return 1;
  // (sig-val (eddsa (r R) (s S))): R and S are 32 bytes each.
  for (int half = 0; half < 2; ++half) {
    Sexp part;
    part.s = gcry_sexp_find_token(sig.s, half ? "s" : "r", 0);
    size_t len = 0;
    const char* bytes = part.s ? gcry_sexp_nth_data(part.s, 1, &len) : nullptr;
    if (!bytes || len != 32) return 1;
    std::memcpy(signature->data() + 32 * half, bytes, 32);
  }
  return 0;
}

std::string read_small_file(const std::string& path, bool* ok) {
  // A PEM key is a few hundred bytes; more is not one.
  char buf[4096];
  std::FILE* f = std::fopen(path.c_str(), "rb");
  *ok = f != nullptr;
  if (!f) return "";
  size_t n = std::fread(buf, 1, sizeof buf, f);
  *ok = !std::ferror(f);
  std::fclose(f);
  std::string text(buf, n);
  SecureZeroMemory(buf, sizeof buf);
  return text;
}

}  // namespace

int generate_key_pair(const std::string& name, std::string* fingerprint, std::string* error) {
  Seed seed;
  Digest key;
  // The seed comes from the system's generator, as the rest of this
  // program's randomness would.
  if (gcrypt_start() ||
      BCryptGenRandom(nullptr, seed.data(), static_cast<ULONG>(seed.size()),
                      BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0 ||
      public_of(seed, &key))
    return fail(error, "cannot make an Ed25519 key");
  std::string priv = name + ".pem", pub = name + ".pub.pem";
  std::string text = private_key_pem(seed);
  SecureZeroMemory(seed.data(), seed.size());
  int r = write_new(priv, text, error);
  SecureZeroMemory(text.data(), text.size());
  if (r) return 1;
  if (write_new(pub, public_key_pem(key), error)) {
    ::_unlink(priv.c_str());
    return 1;
  }
  if (fingerprint) *fingerprint = key_fingerprint(key);
  return 0;
}

int sign_digest(const std::string& key_path, const Digest& digest, Digest* public_key,
                std::array<uint8_t, 64>* signature, std::string* error) {
  bool read = false;
  std::string text = read_small_file(key_path, &read);
  if (!read) return fail(error, "cannot read the key file " + key_path);
  Seed seed;
  int parsed = parse_private_key_pem(text, &seed, nullptr);
  SecureZeroMemory(text.data(), text.size());
  if (parsed) return fail(error, "not an unencrypted Ed25519 private key in PEM: " + key_path);
  int r = gcrypt_start() || public_of(seed, public_key) ||
          sign_with(seed, *public_key, digest, signature);
  SecureZeroMemory(seed.data(), seed.size());
  // A signature that does not verify must not go into an installer.
  if (r || ed25519_verify(*signature, digest.data(), digest.size(), *public_key))
    return fail(error, "cannot sign with " + key_path);
  return 0;
}

}  // namespace qgsetup
