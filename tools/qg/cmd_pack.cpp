// qg pack: files and folders into an archive.  The archive is written to
// temporary files that replace the output only when everything was packed,
// so a failed pack leaves an existing archive as it was.
#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "commands.h"
#include "exit_codes.h"
#include "qgwriter.h"

namespace {

struct PackArgs {
  std::vector<std::string> inputs;
  std::string output;
  int level = 6;
  std::string password;
  bool has_password = false;
  uint64_t volume_size = 0;
  std::string sfx;
};

int collect(const PackArgs& a, std::vector<qgw::Entry>* entries) {
  std::string error;
  for (const std::string& in : a.inputs) {
    struct stat st;
    if (::stat(in.c_str(), &st) != 0)
      return qg::fail(qg::kExitFileError, in + ": " + std::strerror(errno));
    int r;
    if (S_ISDIR(st.st_mode)) {
      r = qgw::entries_from_folder(in, entries, &error);
    } else {
      qgw::Entry e;
      std::string name =
          in.substr(in.find_last_of('/') == std::string::npos ? 0 : in.find_last_of('/') + 1);
      r = qgw::entry_from_file(in, name, "", &e, &error);
      if (!r) entries->push_back(std::move(e));
    }
    if (r) return qg::fail(qg::kExitFileError, error);
  }
  return 0;
}

int run_pack(const PackArgs& a) {
  std::vector<qgw::Entry> entries;
  if (int r = collect(a, &entries)) return r;
  qgw::Options opt;
  opt.level = a.level;
  if (a.has_password) opt.password = a.password;
  opt.volume_size = a.volume_size;
  opt.end = qgw::End::none;
  if (!a.sfx.empty()) {
    std::ifstream stub(a.sfx, std::ios::binary);
    if (!stub)
      return qg::fail(qg::kExitFileError,
                      "cannot read stub " + a.sfx + ": " + std::strerror(errno));
    opt.stub.assign(std::istreambuf_iterator<char>(stub), std::istreambuf_iterator<char>());
  }
  qgw::Report report;
  std::string error;
  if (qgw::write_archive(a.output, entries, opt, &report, &error))
    return qg::fail(qg::kExitFileError, error);
  std::printf("%u entries", report.entries);
  if (report.volumes.size() > 1) std::printf(" in %zu volumes", report.volumes.size());
  if (!opt.stub.empty()) std::printf(", first entry at offset %u", report.first_entry_offset);
  std::printf("\n");
  return qg::kExitOk;
}

void add_pack(CLI::App& root, int& exit_code) {
  auto args = std::make_shared<PackArgs>();
  CLI::App* cmd = root.add_subcommand("pack", "Pack files and folders into an archive");
  cmd->add_option("inputs", args->inputs,
                  "Files and folders (a folder's contents keep their relative directories)")
      ->required();
  cmd->add_option("-o,--output", args->output, "Archive to write")->required();
  cmd->add_option("--level", args->level, "Compression level 0-9")->check(CLI::Range(0, 9));
  cmd->add_option("--password", args->password, "Encrypt every entry with this password")
      ->each([args](const std::string&) { args->has_password = true; });
  cmd->add_option("--volume-size", args->volume_size,
                  "Split into volumes of at most this many bytes")
      ->check(CLI::Range(uint64_t{64}, uint64_t{0xFFFFFFFFu}));
  cmd->add_option("--sfx", args->sfx, "Put this program before the entries (self-extracting file)");
  cmd->callback([args, &exit_code] { exit_code = run_pack(*args); });
}

qg::CommandRegistrar reg(10, add_pack);

}  // namespace
