// qg test and qg extract: drive QEN_NEXTLOOP and QEN_UNPACK like a setup
// program does.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "archive_tools.h"
#include "commands.h"
#include "exit_codes.h"
#include "output_errors.h"
#include "installer_tools.h"
#include "parallel.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "terminal_host.h"

namespace {

using qg::kExitCancelled;
using qg::kExitOk;
using qg::kExitSomeFailed;
using qg::kExitUnusable;
using qg::kExitUsage;

struct ExtractArgs {
  std::string archive;
  std::string destination = ".";
  std::string offset = "auto";
  std::string password;
  bool has_password = false;
  bool overwrite = false;
  bool skip_existing = false;
  bool yes = false;
  bool no = false;
  int jobs = 1;
};

struct Tally {
  unsigned done = 0, skipped = 0, failed = 0;
  bool cancelled = false;
  std::vector<uint32_t> extracted;  // entry numbers, for an installer's metadata
};

// Makes sure a password is set before an encrypted entry.
void ensure_password(const EntryInfo& info, ExtractArgs& a) {
  if (a.has_password || !(info.header.attributes & RZ_ATTR_ENCRYPTED)) return;
  std::string pw;
  if (qg::read_password("Password for " + qg::printable(info.name) + ": ", &pw)) {
    a.password = pw;
    QEN_DECRYPTKEY(pw.c_str());
  }
  a.has_password = true;  // asked once; a wrong one shows as failures
}

// True when the Ctrl-C cancel arrived (possibly still waiting in the queue).
bool drain_cancel(const qg::TerminalHost& host) {
  return qg::drain_cancel_messages(host);
}

void count(int32_t r, const EntryInfo& info, const ExtractArgs& a, bool test_only, Tally& t) {
  std::string label =
      qg::printable(std::string(info.directory) + (info.directory[0] ? "\\" : "") + info.name);
  if (r == 0) {
    ++t.done;
    if (test_only) std::printf("OK      %s\n", label.c_str());
  } else if (r == -1 || r == -22) {
    ++t.skipped;
    std::printf("skipped %s (%s)\n", label.c_str(), qg::unpack_message(r).c_str());
  } else if (r == -2 || r == -30) {
    t.cancelled = true;
  } else {
    ++t.failed;
    std::string why = test_only ? "" : qg::output_error_reason(r, a.destination, info);
    std::fprintf(stderr, "qg: %s: %s%s%s\n", label.c_str(), qg::unpack_message(r).c_str(),
                 why.empty() ? "" : ": ", why.c_str());
  }
}

uint32_t unpack_options(const ExtractArgs& a, bool test_only) {
  uint32_t o = UNPACK_USE_DIRECTORY | UNPACK_NO_PATH_PROMPT | UNPACK_PROGRESS | UNPACK_QUIET;
  if (test_only) o |= UNPACK_TEST_ONLY;
  if (a.overwrite) o |= UNPACK_OVERWRITE;
  if (a.skip_existing) o |= UNPACK_SKIP_EXISTING;
  return o;
}

int walk(ExtractArgs& a, const qg::WalkStart& start, bool test_only, qg::TerminalHost& host,
         Tally& t) {
  char path[256];
  std::memcpy(path, a.archive.c_str(), a.archive.size() + 1);
  EntryInfo info;
  for (uint32_t index = 0;; ++index) {
    int32_t r = QEN_NEXTLOOP(path, 0, &info);
    if (r == 1 && index == 0 && start.entry_required) return qg::nothing_at_start(a.archive, start);
    if (r == 1) return kExitOk;
    if (r != 0)
      return qg::fail(kExitUnusable, qg::printable(a.archive) + ": " + qg::nextloop_message(r));
    uint32_t options = unpack_options(a, test_only);
    bool safe = qg::entry_name_is_safe(info.name);
    if (!safe) {
      std::fprintf(stderr, "qg: refusing entry name %s\n", qg::printable(info.name).c_str());
      ++t.failed;
      // Tested all the same, so that the scan follows its data into later volumes.
      options |= UNPACK_TEST_ONLY;
    }
    ensure_password(info, a);
    host.label = qg::printable(info.name);
    char spare[4] = "";
    r = QEN_UNPACK(info.name, spare, path, a.destination.c_str(), options);
    qg::end_progress_line(&host);
    if (safe) count(r, info, a, test_only, t);
    if (safe && r == 0) t.extracted.push_back(index);
    if (t.cancelled || drain_cancel(host)) {
      t.cancelled = true;
      return kExitCancelled;
    }
  }
}

// The same walk in a.jobs processes, when no question can come up that only
// one process may ask (a replace prompt without an answer given, a disk
// prompt of a spanned archive) and the entries' order cannot matter.  The password is asked up
// front.  Returns false, with nothing done, when the walk must run in one process.
bool walk_parallel(ExtractArgs& a, const qg::WalkStart& start, bool test_only,
                   qg::TerminalHost& host, Tally& t, int* status) {
  if (a.jobs < 2) return false;
  // Into a folder that is empty (or not there yet) no replace prompt comes
  // up, as long as no two entries write the same file.
  std::error_code ec;
  bool empty =
      !std::filesystem::exists(a.destination, ec) || std::filesystem::is_empty(a.destination, ec);
  bool answered = test_only || a.overwrite || a.skip_existing || a.yes || a.no || (empty && !ec);
  qg::ParallelWalk plan;
  plan.archive = a.archive;
  plan.offset = start.offset;
  plan.jobs = a.jobs;
  if (!answered || !qg::plan_parallel(&plan)) return false;
  for (const EntryInfo& info : plan.entries) ensure_password(info, a);
  bool bar = host.progress_bar;
  auto unpack = [&](const EntryInfo& info, char* path) -> int32_t {
    host.progress_bar = false;  // the parent draws the one bar
    if (!qg::entry_name_is_safe(info.name)) return 0;
    char spare[4] = "";
    return QEN_UNPACK(info.name, spare, path, a.destination.c_str(), unpack_options(a, test_only));
  };
  size_t reported = 0;
  auto report = [&](size_t index, const EntryInfo& info, int32_t r) {
    if (qg::entry_name_is_safe(info.name)) {
      count(r, info, a, test_only, t);
    } else {
      std::fprintf(stderr, "qg: refusing entry name %s\n", qg::printable(info.name).c_str());
      ++t.failed;
    }
    reported = index + 1;
    if (bar) qg::draw_entry_bar(reported, plan.entries.size());
    if (t.cancelled || drain_cancel(host)) t.cancelled = true;
    return !t.cancelled;
  };
  if (qg::run_parallel(plan, unpack, report) != 0) return false;
  if (bar) {
    host.progress_bar = true;
    qg::end_progress_line(&host);
  }
  if (t.cancelled) {
    *status = kExitCancelled;
  } else if (plan.end != 1) {
    *status =
        qg::fail(kExitUnusable, qg::printable(a.archive) + ": " + qg::nextloop_message(plan.end));
  } else {
    *status = kExitOk;
  }
  return true;
}

int run_extract(ExtractArgs a, bool test_only) {
  if (a.yes && a.no) return qg::fail(kExitUsage, "--yes and --no exclude each other");
  qg::TerminalHost host;
  host.answer = a.yes ? qg::Answer::yes : a.no ? qg::Answer::no : qg::Answer::ask;
  host.progress_bar = ::isatty(2) != 0;
  // The signals cancel from the start, so that one that arrives while the
  // archive is being found ends with the same status as one during an entry.
  qg::install_terminal_host(&host);
  qg::WalkStart start;
  int found = qg::start_walk(a.archive, a.offset, &start);
  if (found != kExitOk || qg::cancel_requested()) {
    qg::remove_terminal_host();
    return found != kExitOk ? found : kExitCancelled;
  }
  QEN_RESETDLL();
  UDF1(start.offset, 2961);
  if (a.has_password) QEN_DECRYPTKEY(a.password.c_str());
  Tally t;
  int status = kExitOk;
  // An installer's setup data is restored for the entries that were
  // extracted, which only the one-process walk lists: installers take it.
  uint32_t installer_offset = 0;
  bool installer = qg::installer_archive_offset(a.archive, &installer_offset) == 0;
  if (installer || !walk_parallel(a, start, test_only, host, t, &status))
    status = walk(a, start, test_only, host, t);
  QEN_RESETDLL();
  qg::remove_terminal_host();
  if (!test_only && !t.cancelled)
    t.failed += qg::restore_installer_metadata(a.archive, a.destination, t.extracted);
  if (test_only) {
    std::printf("%u entries OK, %u failed%s\n", t.done, t.failed, t.cancelled ? ", cancelled" : "");
  } else {
    std::printf("%u extracted, %u skipped, %u failed%s\n", t.done, t.skipped, t.failed,
                t.cancelled ? ", cancelled" : "");
  }
  if (t.cancelled) return kExitCancelled;
  if (status != kExitOk) return status;
  return t.failed ? kExitSomeFailed : kExitOk;
}

void add_common(CLI::App* cmd, ExtractArgs* a) {
  cmd->add_option("archive", a->archive, "Archive file (the first volume of a spanned archive)")
      ->required();
  cmd->add_option("--offset", a->offset, "Offset of the first entry, or auto")
      ->capture_default_str();
  cmd->add_option("--password", a->password, "Password of encrypted entries (asked when needed)")
      ->each([a](const std::string&) { a->has_password = true; });
  cmd->add_flag("--yes", a->yes, "Answer Yes/OK to every question");
  cmd->add_flag("--no", a->no, "Answer No/Cancel to every question");
  cmd->add_option("-j,--jobs", a->jobs,
                  "Processes that work at once (one when a question may need asking or the "
                  "archive spans volumes)")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
}

void add_extract(CLI::App& root, int& exit_code) {
  auto a = std::make_shared<ExtractArgs>();
  CLI::App* cmd = root.add_subcommand("extract", "Extract every entry of an archive");
  add_common(cmd, a.get());
  cmd->add_option("-d,--directory", a->destination, "Destination folder")->capture_default_str();
  cmd->add_flag("--overwrite", a->overwrite, "Replace existing files without asking");
  cmd->add_flag("--skip-existing", a->skip_existing, "Keep existing files without asking");
  cmd->callback([a, &exit_code] { exit_code = run_extract(*a, false); });
}

void add_test(CLI::App& root, int& exit_code) {
  auto a = std::make_shared<ExtractArgs>();
  CLI::App* cmd = root.add_subcommand("test", "Decode and check every entry without writing");
  add_common(cmd, a.get());
  cmd->callback([a, &exit_code] { exit_code = run_extract(*a, true); });
}

qg::CommandRegistrar reg_test(30, add_test);
qg::CommandRegistrar reg_extract(40, add_extract);

}  // namespace
