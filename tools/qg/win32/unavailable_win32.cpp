// What a qg.exe built without libgcrypt (no Ed25519) leaves out: keygen
// and pack --setup, registered so that asking for them says why instead of
// "unknown subcommand".  qg_windows.cmake compiles this file only then.
#include <memory>

#include "commands.h"
#include "exit_codes.h"
#include "installer_tools.h"

namespace {

void add_unavailable(CLI::App& root, int& exit_code, const char* name, const char* what,
                     const char* why) {
  CLI::App* cmd = root.add_subcommand(name, std::string(what) + " (not available in qg.exe)");
  cmd->allow_extras();
  cmd->prefix_command();
  std::string message = std::string("qg.exe has no ") + name + ": " + why;
  cmd->callback([message, &exit_code] { exit_code = qg::fail(qg::kExitUsage, message); });
}

void add_keygen(CLI::App& root, int& exit_code) {
  add_unavailable(root, exit_code, "keygen", "Make an Ed25519 key pair for pack --sign",
                  "it needs libgcrypt, which this build was configured without (use the Linux "
                  "qg keygen)");
}

qg::CommandRegistrar reg_keygen(46, add_keygen);

}  // namespace

namespace qg {

void add_setup_pack_options(CLI::App* cmd, SetupPackArgs* a) {
  cmd->add_option("--setup", a->script, "Write an installer (not available in this qg.exe)");
  cmd->add_option("--stub", a->stub, "With --setup: the setup program to use");
  cmd->add_option("--target-os", a->target_os, "With --setup: the system the installer runs on");
  cmd->add_option("--target-arch", a->target_arch, "With --target-os windows: x86_64 or i686");
  cmd->add_option("--sign", a->sign, "With --setup: sign with this Ed25519 private key (PEM)");
  cmd->add_flag("--dereference", a->dereference,
                "With --setup: pack a link that leads outside its folder as what it points to");
}

int run_pack_setup(const std::vector<std::string>&, const std::string&, int, const std::string*,
                   uint64_t, const std::string&, const SetupPackArgs&) {
  return fail(kExitUsage,
              "this qg.exe cannot write installers: it was built without libgcrypt, which "
              "signing needs (use the Linux qg; nothing written)");
}

}  // namespace qg
