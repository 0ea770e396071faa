// The installer hooks of list, test and extract, and the default setup
// program of pack --setup (setup_pack_cmd.cpp).
#include "installer_tools.h"

#include <fcntl.h>
#include <unistd.h>

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

// qg-setup beside this qg: the build tree and the installed layout both
// put them in one folder.
std::string default_stub() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "qg-setup";
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + "qg-setup";
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
  if (!a.stub.empty() || !a.sign.empty() || a.dereference)
    return fail(kExitUsage, "--stub, --sign and --dereference need --setup");
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
