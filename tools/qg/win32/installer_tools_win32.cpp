// The installer hooks of qg.exe: list, test and extract find the archive of
// an installer from its anchor as on POSIX.  Writing installers needs the
// setup program core's SHA-256 and signing, which this Windows build does
// not carry yet, so pack --setup says so.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "exit_codes.h"
#include "file_reader.h"
#include "installer.h"
#include "installer_tools.h"

namespace qg {

void add_setup_pack_options(CLI::App* cmd, SetupPackArgs* a) {
  cmd->add_option("--setup", a->script, "Write an installer (not available in qg.exe)");
  cmd->add_option("--stub", a->stub, "With --setup: the setup program to use");
  cmd->add_option("--sign", a->sign, "With --setup: sign with this Ed25519 private key (PEM)");
  cmd->add_flag("--dereference", a->dereference,
                "With --setup: pack a link that leads outside its folder as what it points to");
}

int run_pack_setup(const std::vector<std::string>&, const std::string&, int, const std::string*,
                   uint64_t, const std::string&, const SetupPackArgs&) {
  return fail(kExitUsage,
              "qg.exe cannot write installers: --setup needs the installer's SHA-256, whose "
              "Windows implementation is not in this build (use the Linux qg; nothing written)");
}

int prepare_plain_pack(const std::vector<std::string>&, const SetupPackArgs& a) {
  if (!a.stub.empty() || !a.sign.empty() || a.dereference)
    return fail(kExitUsage, "--stub, --sign and --dereference need --setup");
  return 0;
}

int installer_archive_offset(const std::string& path, uint32_t* offset) {
  qgsetup::InstallerLayout layout;
  if (qgsetup::locate_installer(path, &layout) != qgsetup::kLocateOk) return 1;
  // An anchor without setup data where it points is a plain archive that
  // stores an installer.
  qgsetup::FileReader in;
  char magic[8] = {};
  if (in.open(path) || in.seek(layout.setup_data_offset) || in.read_exact(magic, sizeof magic) ||
      std::memcmp(magic, "QGSETUPD", sizeof magic) != 0)
    return 1;
  *offset = static_cast<uint32_t>(layout.archive_offset);  // below 4 GiB: checked by locate
  return 0;
}

int restore_installer_metadata(const std::string& archive, const std::string&,
                               const std::vector<uint32_t>&) {
  uint32_t offset = 0;
  if (installer_archive_offset(archive, &offset) == 0)
    std::fprintf(stderr,
                 "qg: note: on Windows the files keep the times and attributes of the archive; "
                 "POSIX modes, links and empty folders of the installer are not restored\n");
  return 0;
}

}  // namespace qg
