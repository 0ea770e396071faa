// qg verify: checks an installer without running it.
#include <cstdio>

#include "commands.h"
#include "exit_codes.h"
#include "installer.h"
#include "setup_exit_codes.h"

namespace {

struct VerifyArgs {
  std::string file;
  std::string key;
};

int exit_status(int failure) {
  switch (failure) {
    case qgsetup::kVerifyOk:
      return qg::kExitOk;
    case qgsetup::kVerifyUnreadable:
      return qg::kExitFileError;
    case qgsetup::kVerifyNotInstaller:
      return qg::kExitUnusable;
    default:
      return qgsetup::kSetupIntegrity;
  }
}

void print_layout(const qgsetup::VerifyResult& r) {
  const qgsetup::InstallerLayout& l = r.layout;
  auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  std::printf("setup program  %12llu bytes at 0\n", u(l.setup_data_offset));
  std::printf("setup data     %12llu bytes at %llu\n", u(l.setup_data_length),
              u(l.setup_data_offset));
  std::printf("archive        %12llu bytes at %llu%s\n", u(l.recorded_length - l.archive_offset),
              u(l.archive_offset), r.archive_crc_checked ? " (SHA-256 and CRC-32)" : " (SHA-256)");
  if (r.authenticode)
    std::printf(
        "certificates   %12llu bytes at %llu (Authenticode: not covered, checked by "
        "Windows)\n",
        u(l.pe.table_size), u(l.pe.table_offset));
}

int run_verify(const VerifyArgs& a) {
  qgsetup::VerifyOptions options;
  std::string error;
#ifdef QGSETUP_NO_ED25519
  // A key match proves nothing while the signature itself goes unchecked.
  if (!a.key.empty())
    return qg::fail(qg::kExitUsage,
                    "--key needs an Ed25519 check, which this build does not have (use the "
                    "Linux qg verify --key)");
#endif
  if (!a.key.empty()) {
    if (qgsetup::read_public_key_pem(a.key, &options.required_key, &error))
      return qg::fail(qg::kExitFileError, error);
    options.require_key = true;
  }
  qgsetup::VerifyResult r;
  int failure = qgsetup::verify_installer(a.file, options, &r);
  if (failure == qgsetup::kVerifyOk) print_layout(r);
  if (r.is_signed) std::printf("signed by key  %s\n", r.signer_fingerprint.c_str());
  if (failure != qgsetup::kVerifyOk)
    return qg::fail(exit_status(failure), a.file + ": " + r.message);
  const char* signature = !r.is_signed ? ", not signed"
                          : r.signature_unchecked
                              ? ", signed (this build cannot check the signature)"
                          : options.require_key ? ", signed by the required key"
                                                : ", signed";
  std::printf("%s: intact%s%s\n", a.file.c_str(), signature,
              r.authenticode ? "; with an Authenticode signature, which qg does not check" : "");
  return qg::kExitOk;
}

void add_verify(CLI::App& root, int& exit_code) {
  auto a = std::make_shared<VerifyArgs>();
  CLI::App* cmd = root.add_subcommand(
      "verify", "Check an installer without running it (digests, length, CRC-32, signature)");
  cmd->add_option("file", a->file, "Installer made by qg pack --setup")->required();
  cmd->add_option("--key", a->key, "Require a signature by this Ed25519 public key (PEM)");
  cmd->footer(
      std::string("Exit status: 0 intact, 2 not an installer, 5 unreadable file or key, "
                  "11 integrity failure (changed, truncated, appended, bad or missing "
                  "signature)."));
  cmd->callback([a, &exit_code] { exit_code = run_verify(*a); });
}

qg::CommandRegistrar reg(45, add_verify);

}  // namespace
