// The installer hooks of list, test and extract, and the setup program
// that pack --setup takes (choose_stub; the command is setup_pack_cmd.cpp).
#include "installer_tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>

#include "commands.h"
#include "exit_codes.h"
#include "installer.h"
#include "pack_setup.h"
#include "payload_meta.h"

namespace qg {

namespace {

// The folder of the running qg, with a final '/' ("" when unknown).
std::string self_dir() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

// qg-setup beside this qg: the build tree and the installed layout both
// put them in one folder.
std::string default_stub() {
  return self_dir() + "qg-setup";
}

// The Windows setup program for arch, in the data folder as seen from this
// qg's folder (QG_BIN_TO_DATA); the build tree copies the sub-builds' programs
// to the same place.
std::string windows_stub(const std::string& arch) {
  return self_dir() + QG_BIN_TO_DATA "/raziza3z/windows/" + arch + "/qg-setup.exe";
}

// The machine field of a PE file's COFF header: 0 with *machine, or 1 when
// path cannot be read or is no PE file.  e_lfanew comes from the file and is
// checked against the bytes read.
int pe_machine(const std::string& path, uint16_t* machine) {
  unsigned char head[4096];
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 1;
  size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (n < 0x40 || head[0] != 'M' || head[1] != 'Z') return 1;
  uint32_t pe = head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | uint32_t{head[0x3F]} << 24;
  if (pe > n - 6 || std::memcmp(head + pe, "PE\0\0", 4) != 0) return 1;
  *machine = static_cast<uint16_t>(head[pe + 4] | head[pe + 5] << 8);
  return 0;
}

}  // namespace

// The setup program --setup packs: --stub, the Windows one of --target-os
// and --target-arch, or qg-setup beside qg.  0 with *stub, or an exit status
// (reported).
int choose_stub(const SetupPackArgs& a, std::string* stub) {
  if (!a.stub.empty()) {
    *stub = a.stub;
    return 0;
  }
  if (a.target_os != "windows") {
    *stub = default_stub();
    return 0;
  }
  const std::string arch = a.target_arch.empty() ? "x86_64" : a.target_arch;
  *stub = windows_stub(arch);
  struct stat st;
  if (::stat(stub->c_str(), &st) != 0)
    return fail(kExitFileError, "no Windows setup program for " + arch +
                                    " was installed with qg (" + *stub + ": " +
                                    std::strerror(errno) +
                                    "); a build with the MinGW-w64 cross compilers ships it "
                                    "(RZ_WINDOWS_STUBS), or name one with --stub");
  // A program of the other width (or no Windows program) would make an
  // installer that cannot start on the systems asked for.
  const uint16_t want = arch == "x86_64" ? 0x8664 : 0x014C;
  uint16_t machine = 0;
  if (pe_machine(*stub, &machine) != 0 || machine != want)
    return fail(kExitFileError, *stub + " is not a Windows program for " + arch);
  return 0;
}

namespace {

// Reads an installer's layout and setup data: 0 read, 1 not an installer
// (no anchor, or no setup data where it points: a plain archive that stores
// an installer holds its anchor too), 2 an installer whose setup data is
// damaged (*error says how).
int read_installer(const std::string& path, qgsetup::InstallerLayout* layout,
                   qgsetup::SetupData* data, std::string* error) {
  if (qgsetup::locate_installer(path, layout) != qgsetup::kLocateOk) return 1;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  char magic[8] = {};
  bool found = f && std::fseek(f, static_cast<long>(layout->setup_data_offset), SEEK_SET) == 0 &&
               std::fread(magic, 1, sizeof magic, f) == sizeof magic &&
               std::memcmp(magic, "QGSETUPD", sizeof magic) == 0;
  if (f) std::fclose(f);
  if (!found) return 1;
  return qgsetup::read_setup_data(path, *layout, data, error) ? 2 : 0;
}

}  // namespace

int prepare_plain_pack(const std::vector<std::string>& inputs, const SetupPackArgs& a) {
  if (!a.stub.empty() || !a.target_os.empty() || !a.target_arch.empty() || !a.sign.empty() ||
      a.dereference)
    return fail(kExitUsage,
                "--stub, --target-os, --target-arch, --sign and --dereference need --setup");
  for (const std::string& loss : qgsetup::plain_pack_losses(inputs)) warn(loss);
  return 0;
}

int installer_archive_offset(const std::string& path, uint32_t* offset) {
  qgsetup::InstallerLayout layout;
  qgsetup::SetupData data;
  std::string error;
  if (read_installer(path, &layout, &data, &error) == 1) return 1;
  *offset = static_cast<uint32_t>(layout.archive_offset);  // below 4 GiB: checked by locate
  return 0;
}

int restore_installer_metadata(const std::string& archive, const std::string& destination,
                               const std::vector<uint32_t>& extracted) {
  qgsetup::InstallerLayout layout;
  qgsetup::SetupData data;
  std::string error;
  int read = read_installer(archive, &layout, &data, &error);
  if (read == 1) return 0;
  if (read == 2) {
    fail(0, error + ": modes, links, empty folders and times not restored");
    return 1;
  }
  // Files not extracted (skipped, failed) keep what they have.
  std::set<uint32_t> done(extracted.begin(), extracted.end());
  std::vector<qgsetup::PayloadItem> kept;
  for (qgsetup::PayloadItem& item : data.items)
    if (item.kind != qgsetup::ItemKind::file || done.count(item.entry))
      kept.push_back(std::move(item));
  data.items = std::move(kept);
  int root = ::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    fail(0, "cannot open " + destination + ": modes, links and times not restored");
    return 1;
  }
  int problems = 0;
  qgsetup::MetadataHooks hooks;
  hooks.warn = [&](const std::string& message) {
    fail(0, message);
    ++problems;
  };
  if (qgsetup::apply_payload_metadata(root, data, qgsetup::current_umask(), hooks, &error)) {
    fail(0, error);
    ++problems;
  }
  ::close(root);
  return problems;
}

}  // namespace qg
