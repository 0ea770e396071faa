// qg's side of installers: packing with --setup, and reading an installer's
// archive and setup data in list, test and extract.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace qg {

struct SetupPackArgs {
  std::string script;       // --setup
  std::string stub;         // --stub
  std::string target_os;    // --target-os: "", "linux" or "windows"
  std::string target_arch;  // --target-arch: "", "x86_64" or "i686"
  std::string sign;         // --sign
  bool dereference = false;
};

// Adds --setup, --stub, --target-os, --target-arch, --sign and
// --dereference to `qg pack`.
void add_setup_pack_options(CLI::App* cmd, SetupPackArgs* args);

// qg pack with --setup.  Returns an exit status.
int run_pack_setup(const std::vector<std::string>& inputs, const std::string& output, int level,
                   const std::string* password, uint64_t volume_size, const std::string& sfx,
                   const SetupPackArgs& args);

// The setup program that pack --setup packs: --stub, or the one this qg
// has for --target-os and --target-arch (qg's own installer_tools.cpp,
// qg.exe's win32/installer_tools_win32.cpp), the options' combination
// already checked.  0 with *stub, or an exit status (reported).
int choose_stub(const SetupPackArgs& args, std::string* stub);

// Before a plain `qg pack`: refuses the installer-only options, and warns
// about what the plain format does not keep.  Returns 0 or an exit status.
int prepare_plain_pack(const std::vector<std::string>& inputs, const SetupPackArgs& args);

// Offset of the archive in an installer, found from its anchor.  Returns 0
// when `path` is an installer, 1 otherwise.
int installer_archive_offset(const std::string& path, uint32_t* offset);

// After extracting an installer into `destination`: restores modes (under
// the umask), links, empty folders and times from its setup data, for the
// files whose entries are in `extracted`.  Does nothing for other archives.
// Returns the number of problems (each printed).
int restore_installer_metadata(const std::string& archive, const std::string& destination,
                               const std::vector<uint32_t>& extracted);

}  // namespace qg
