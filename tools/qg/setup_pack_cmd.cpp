// qg pack --setup: an installer from the inputs, an install script and the
// setup program, signed with --sign.  Shared by qg and qg.exe; each chooses
// the setup program itself (choose_stub).
#include <cstdio>

#include "commands.h"
#include "exit_codes.h"
#include "installer_tools.h"
#include "pack_setup.h"

namespace qg {

namespace {

#ifdef _WIN32
constexpr const char* kSetupHelp =
    "Write an installer: this install script, the setup program and the inputs (keeps empty "
    "folders and times; modes 0755 for folders and programs, 0644 for other files)";
constexpr const char* kStubHelp =
    "With --setup: the setup program to use (default: qg-setup.exe beside qg.exe; not with "
    "--target-os)";
constexpr const char* kTargetOsHelp =
    "With --setup: the system the installer runs on: windows (qg-setup.exe beside qg.exe, the "
    "default); for linux, name its setup program with --stub";
constexpr const char* kTargetArchHelp =
    "With --target-os windows: x86_64 (the default, the qg-setup.exe beside qg.exe); for i686, "
    "name its setup program with --stub";
#else
constexpr const char* kSetupHelp =
    "Write an installer: this install script, the setup program and the inputs (keeps modes, "
    "links, empty folders and times)";
constexpr const char* kStubHelp =
    "With --setup: the setup program to use (default: qg-setup beside qg; not with --target-os)";
constexpr const char* kTargetOsHelp =
    "With --setup: the system the installer runs on: linux (qg-setup beside qg, the default) or "
    "windows (the qg-setup.exe installed with qg, in " QG_BIN_TO_DATA
    "/raziza3z/windows/ARCH/ from qg's folder)";
constexpr const char* kTargetArchHelp = "With --target-os windows: x86_64 (the default) or i686";
#endif

}  // namespace

void add_setup_pack_options(CLI::App* cmd, SetupPackArgs* a) {
  cmd->add_option("--setup", a->script, kSetupHelp);
  cmd->add_option("--stub", a->stub, kStubHelp);
  cmd->add_option("--target-os", a->target_os, kTargetOsHelp)
      ->check(CLI::IsMember({"linux", "windows"}));
  cmd->add_option("--target-arch", a->target_arch, kTargetArchHelp)
      ->check(CLI::IsMember({"x86_64", "i686"}));
  cmd->add_option("--sign", a->sign, "With --setup: sign with this Ed25519 private key (PEM)");
  cmd->add_flag("--dereference", a->dereference,
                "With --setup: pack a link that leads outside its folder as what it points to");
}

int run_pack_setup(const std::vector<std::string>& inputs, const std::string& output, int level,
                   const std::string* password, uint64_t volume_size, const std::string& sfx,
                   const SetupPackArgs& a) {
  if (volume_size || !sfx.empty())
    return fail(kExitUsage, "--setup writes one installer file: no --volume-size or --sfx");
  if (!a.stub.empty() && !a.target_os.empty())
    return fail(kExitUsage, "--stub names the setup program itself: no --target-os with it");
  if (!a.target_arch.empty() && a.target_os != "windows")
    return fail(kExitUsage, "--target-arch needs --target-os windows");
  qgsetup::PackSetupOptions o;
  if (int r = choose_stub(a, &o.stub)) return r;
  o.inputs = inputs;
  o.output = output;
  o.script = a.script;
  o.sign_key = a.sign;
  o.dereference = a.dereference;
  o.level = level;
  if (password) o.password = *password;
  qgsetup::PackSetupReport report;
  std::string error;
  int r = qgsetup::pack_installer(o, &report, &error);
  for (const std::string& w : report.warnings) warn(w);
  if (r) return fail(kExitSomeFailed, error + " (nothing written)");
  std::printf("%u files, %u folders, %u links: installer %s, %llu bytes\n", report.files,
              report.directories, report.links, output.c_str(),
              static_cast<unsigned long long>(report.size));
  if (!report.fingerprint.empty()) std::printf("signed by key %s\n", report.fingerprint.c_str());
  return kExitOk;
}

}  // namespace qg
