// qg list: one row per entry of an archive.
#include <cstdio>
#include <cstring>

#include "archive_tools.h"
#include "commands.h"

namespace {

struct ListArgs {
  std::string archive;
  std::string offset = "auto";
};

void print_row(const EntryInfo& info) {
  const EntryHeader& h = info.header;
  double ratio = h.unpacked_size ? 100.0 * (1.0 - double(h.packed_size) / double(h.unpacked_size)) : 0.0;
  std::printf("%-24s %-20s %12u %12u %6.1f%% %s %s %s\n", info.name,
              info.directory[0] ? info.directory : "\\", h.unpacked_size, h.packed_size, ratio,
              qg::entry_time_text(h).c_str(), qg::attribute_text(h.attributes).c_str(),
              (h.attributes & RZ_ATTR_ENCRYPTED) ? "encrypted" : "");
}

int run_list(const ListArgs& a) {
  uint32_t offset = 0;
  if (qg::resolve_offset(a.archive, a.offset, &offset)) return qg::fail(2, "bad offset or unreadable archive: " + a.archive);
  if (a.archive.size() > 255) return qg::fail(2, "archive path longer than 255 characters");
  char path[256];
  std::memcpy(path, a.archive.c_str(), a.archive.size() + 1);
  QEN_RESETDLL();
  UDF1(offset, 2961);
  std::printf("%-24s %-20s %12s %12s %7s %-19s %s %s\n", "Name", "Directory", "Size", "Packed",
              "Ratio", "Date", "Attr", "");
  int32_t r;
  unsigned count = 0;
  EntryInfo info;
  while ((r = QEN_NEXTLOOP(path, 0, &info)) == 0) {
    print_row(info);
    ++count;
  }
  QEN_RESETDLL();
  if (r != 1) return qg::fail(1, a.archive + ": " + qg::nextloop_message(r));
  std::printf("%u entries\n", count);
  return 0;
}

void add_list(CLI::App& root, int& exit_code) {
  auto args = std::make_shared<ListArgs>();
  CLI::App* cmd = root.add_subcommand("list", "List the entries of an archive");
  cmd->add_option("archive", args->archive, "Archive file")->required();
  cmd->add_option("--offset", args->offset, "Offset of the first entry, or auto")->capture_default_str();
  cmd->callback([args, &exit_code] { exit_code = run_list(*args); });
}

qg::CommandRegistrar reg(20, add_list);

}  // namespace
