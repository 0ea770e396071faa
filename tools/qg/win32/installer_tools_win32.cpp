// The installer hooks of qg.exe: list, test and extract find the archive of
// an installer from its anchor as on POSIX; pack --setup takes the
// qg-setup.exe beside qg.exe by default.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "commands.h"
#include "exit_codes.h"
#include "file_reader.h"
#include "installer.h"
#include "installer_tools.h"

namespace qg {

namespace {

// qg-setup.exe beside this qg.exe, as the build tree and an installation
// put them.
std::string default_stub() {
  char self[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self) return "qg-setup.exe";
  std::string path(self, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + "qg-setup.exe";
}

}  // namespace

// qg.exe carries one setup program, the qg-setup.exe of its own build beside
// it: the others are named with --stub.
int choose_stub(const SetupPackArgs& a, std::string* stub) {
  if (!a.stub.empty()) {
    *stub = a.stub;
    return 0;
  }
  if (a.target_os == "linux")
    return fail(kExitUsage, "qg.exe has no Linux setup program: name one with --stub");
  if (a.target_arch == "i686")
    return fail(kExitUsage,
                "qg.exe has only the x86_64 qg-setup.exe beside it: name the i686 one with --stub");
  *stub = default_stub();
  return 0;
}

int prepare_plain_pack(const std::vector<std::string>&, const SetupPackArgs& a) {
  if (!a.stub.empty() || !a.target_os.empty() || !a.target_arch.empty() || !a.sign.empty() ||
      a.dereference)
    return fail(kExitUsage,
                "--stub, --target-os, --target-arch, --sign and --dereference need --setup");
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
