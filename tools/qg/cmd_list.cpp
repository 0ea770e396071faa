// qg list: one row per entry of an archive.
#include <cstdio>
#include <cstring>

#include "archive_tools.h"
#include "commands.h"
#include "exit_codes.h"
#include "terminal_host.h"

namespace {

struct ListArgs {
  std::string archive;
  std::string offset = "auto";
  std::string password;
  bool has_password = false;
};

// An entry whose data runs past the end of the volume now in use continues
// in the next volume; testing it (decode without writing) is how the scan
// moves there.  Returns 0, or the test's result code.
int32_t follow_into_next_volume(const char* path, const EntryInfo& info, ListArgs& a) {
  if (static_cast<long long>(GETSFP()) <= qg::file_size(path)) return 0;
  if ((info.header.attributes & RZ_ATTR_ENCRYPTED) && !a.has_password) {
    std::string pw;
    if (qg::read_password("Password for " + std::string(info.name) + ": ", &pw))
      QEN_DECRYPTKEY(pw.c_str());
    a.has_password = true;
  }
  char spare[4] = "";
  return QEN_UNPACK(info.name, spare, path, "", UNPACK_TEST_ONLY | UNPACK_QUIET | UNPACK_PROGRESS);
}

void print_row(const EntryInfo& info) {
  const EntryHeader& h = info.header;
  double ratio =
      h.unpacked_size ? 100.0 * (1.0 - double(h.packed_size) / double(h.unpacked_size)) : 0.0;
  std::string name = qg::printable(info.name);
  std::string directory = info.directory[0] ? qg::printable(info.directory) : "\\";
  std::printf("%-24s %-20s %12u %12u %6.1f%% %s %s %s\n", name.c_str(), directory.c_str(),
              h.unpacked_size, h.packed_size, ratio, qg::entry_time_text(h).c_str(),
              qg::attribute_text(h.attributes).c_str(),
              (h.attributes & RZ_ATTR_ENCRYPTED) ? "encrypted" : "");
}

int run_list(ListArgs a) {
  qg::WalkStart start;
  if (int status = qg::start_walk(a.archive, a.offset, &start)) return status;
  char path[256];
  std::memcpy(path, a.archive.c_str(), a.archive.size() + 1);
  qg::TerminalHost host;
  qg::install_terminal_host(&host);
  QEN_RESETDLL();
  UDF1(start.offset, 2961);
  if (a.has_password) QEN_DECRYPTKEY(a.password.c_str());
  std::printf("%-24s %-20s %12s %12s %7s %-19s %s %s\n", "Name", "Directory", "Size", "Packed",
              "Ratio", "Date", "Attr", "");
  int32_t r;
  unsigned count = 0;
  EntryInfo info;
  while ((r = QEN_NEXTLOOP(path, 0, &info)) == 0) {
    print_row(info);
    ++count;
    int32_t t = follow_into_next_volume(path, info, a);
    if (t != 0) {
      QEN_RESETDLL();
      qg::remove_terminal_host();
      if (t == -2 || t == -30) return qg::fail(qg::kExitCancelled, "cancelled");
      return qg::fail(qg::kExitUnusable, "cannot follow " + qg::printable(info.name) +
                                             " into the next volume: " + qg::unpack_message(t));
    }
  }
  QEN_RESETDLL();
  qg::remove_terminal_host();
  if (r == 1 && count == 0 && start.entry_required) return qg::nothing_at_start(a.archive, start);
  if (r != 1)
    return qg::fail(qg::kExitUnusable, qg::printable(a.archive) + ": " + qg::nextloop_message(r));
  std::printf("%u entries\n", count);
  return qg::kExitOk;
}

void add_list(CLI::App& root, int& exit_code) {
  auto args = std::make_shared<ListArgs>();
  CLI::App* cmd = root.add_subcommand("list", "List the entries of an archive");
  cmd->add_option("archive", args->archive, "Archive file")->required();
  cmd->add_option("--offset", args->offset, "Offset of the first entry, or auto")
      ->capture_default_str();
  cmd->add_option("--password", args->password,
                  "Password, to follow encrypted entries into later volumes")
      ->each([args](const std::string&) { args->has_password = true; });
  cmd->callback([args, &exit_code] { exit_code = run_list(*args); });
}

qg::CommandRegistrar reg(20, add_list);

}  // namespace
