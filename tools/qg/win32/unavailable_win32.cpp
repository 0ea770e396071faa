// Subcommands that qg.exe does not have yet, registered so that asking for
// them says why instead of "unknown subcommand".
#include <memory>

#include "commands.h"
#include "exit_codes.h"

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
                  "it needs OpenSSL, which this build does not carry (use the Linux qg keygen)");
}

qg::CommandRegistrar reg_keygen(46, add_keygen);

}  // namespace
