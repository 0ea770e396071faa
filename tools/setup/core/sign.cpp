// Ed25519 keys and signatures with OpenSSL's EVP interface (qg only).
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "installer.h"
#include "pack_setup.h"

namespace qgsetup {

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

// Creates `path` exclusively with `mode` and lets `write` fill it.
template <typename Write>
int write_new(const std::string& path, int mode, Write write, std::string* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return fail(error, "cannot create " + path + " (it may exist already)");
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    ::unlink(path.c_str());
    return fail(error, "cannot write " + path);
  }
  bool ok = write(f) == 1;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    ::unlink(path.c_str());
    return fail(error, "cannot write " + path);
  }
  return 0;
}

int raw_public_key(EVP_PKEY* key, Digest* out) {
  size_t len = out->size();
  return EVP_PKEY_get_raw_public_key(key, out->data(), &len) == 1 && len == out->size() ? 0 : 1;
}

}  // namespace

int generate_key_pair(const std::string& name, std::string* fingerprint, std::string* error) {
  Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  if (!key) return fail(error, "cannot make an Ed25519 key");
  std::string priv = name + ".pem", pub = name + ".pub.pem";
  if (write_new(
          priv, 0600,
          [&](std::FILE* f) {
            return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
          },
          error))
    return 1;
  if (write_new(
          pub, 0644, [&](std::FILE* f) { return PEM_write_PUBKEY(f, key.get()); }, error)) {
    ::unlink(priv.c_str());
    return 1;
  }
  Digest raw;
  if (raw_public_key(key.get(), &raw) == 0 && fingerprint) *fingerprint = key_fingerprint(raw);
  return 0;
}

int sign_digest(const std::string& key_path, const Digest& digest, Digest* public_key,
                std::array<uint8_t, 64>* signature, std::string* error) {
  std::FILE* f = std::fopen(key_path.c_str(), "rb");
  if (!f) return fail(error, "cannot read the key file " + key_path);
  Pkey key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
  std::fclose(f);
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
    return fail(error, "not an unencrypted Ed25519 private key in PEM: " + key_path);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t len = signature->size();
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature->data(), &len, digest.data(), digest.size()) != 1 ||
      len != signature->size() || raw_public_key(key.get(), public_key))
    return fail(error, "cannot sign with " + key_path);
  return 0;
}

}  // namespace qgsetup
