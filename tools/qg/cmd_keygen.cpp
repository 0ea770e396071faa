// qg keygen: an Ed25519 key pair for signing installers.
#include <cstdio>

#include "commands.h"
#include "exit_codes.h"
#include "pack_setup.h"

namespace {

void add_keygen(CLI::App& root, int& exit_code) {
  auto name = std::make_shared<std::string>();
  CLI::App* cmd = root.add_subcommand(
      "keygen", "Make an Ed25519 key pair for qg pack --sign: NAME.pem (private) and NAME.pub.pem");
  cmd->add_option("-o,--output", *name, "NAME of the two files")->required();
  cmd->callback([name, &exit_code] {
    std::string fingerprint, error;
    if (qgsetup::generate_key_pair(*name, &fingerprint, &error)) {
      exit_code = qg::fail(qg::kExitFileError, error);
      return;
    }
#ifdef _WIN32
    // The private key file takes the folder's permissions: no mode to show.
    const char* kind = "private";
#else
    const char* kind = "private, mode 0600";
#endif
    std::printf("wrote %s.pem (%s) and %s.pub.pem\nkey fingerprint %s\n", name->c_str(), kind,
                name->c_str(), fingerprint.c_str());
    exit_code = qg::kExitOk;
  });
}

qg::CommandRegistrar reg(46, add_keygen);

}  // namespace
