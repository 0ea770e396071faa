// qg-setup: the setup program.  A copy of it heads every installer made by
// `qg pack --setup`; it finds its payload through its own anchor.
#include <cstdio>
#include <string>
#include <vector>

#include "anchor.h"
#include "host.h"
#include "install.h"
#include "setup_exit_codes.h"
#include "sys.h"

#ifndef QG_VERSION
#define QG_VERSION "0"
#endif

namespace {

using namespace setup;

// The folder this program sits in, when it is an uninstaller placed in an
// installation (a setup program without payload beside an install record).
std::string installation_beside_me() {
  std::string self = sys::self_path();
#ifdef _WIN32
  for (char& c : self)
    if (c == '\\') c = '/';
#endif
  size_t slash = self.rfind('/');
  if (slash == std::string::npos) return "";
  std::string dir = self.substr(0, slash);
  struct stat st;
  return ::stat((dir + "/.qg-setup/record").c_str(), &st) == 0 ? dir : "";
}

int run(const Options& opt, Ui& ui) {
  if (opt.mode == Mode::installed) return run_installed(ui);
  qgsetup::InstallerLayout layout;
  bool payload = qgsetup::locate_installer(sys::self_open_name(), &layout) == qgsetup::kLocateOk;
  if (opt.mode == Mode::uninstall || (!payload && opt.mode == Mode::install)) {
    std::string dir = opt.has_target ? opt.target : installation_beside_me();
    if (dir.empty()) {
      ui.error(payload ? "--uninstall needs the installation's folder"
                       : "this setup program carries no payload, and no installation is beside it");
      return payload ? qgsetup::kSetupUsage : qgsetup::kSetupNothingInstalled;
    }
    return run_uninstall(ui, opt, dir);
  }
  Installation in(ui, opt);
  int status = load_installer(in);
  if (status != 0) return status;
  switch (opt.mode) {
    case Mode::check:
      ui.info("The installer is intact.");
      return 0;
    case Mode::list:
      return run_list(in);
    case Mode::info:
      return run_info(in);
    case Mode::extract:
      in.target = full_path(opt.target);
      return run_extract_only(in);
    default:
      status = run_install(in);
      if (!in.script_file.empty()) std::remove(in.script_file.c_str());
      return status;
  }
}

// The finish page's text.
std::string finish_text(int status, const Ui& ui) {
  if (status == qgsetup::kSetupOk)
    return ui.outcome().empty() ? "Finished." : "Finished. " + ui.outcome();
  std::string head = "Stopped (exit status " + std::to_string(status) + ")";
  if (status == qgsetup::kSetupCancelled && ui.last_error().empty())
    return head + ": cancelled; everything was put back as it was.";
  return head + ": " + ui.last_error();
}

// Refuses what this build does not offer: 0, or 1 with *error.
int check_offered(const Options& opt, std::string* error) {
  if (opt.progress_fd >= 0 && !sys::progress_fd_offered())
    return (*error = "--progress-fd is not offered on this system", 1);
#ifdef QGSETUP_NO_ED25519
  if (!opt.require_key.empty())
    return (*error =
                "--require-key: this build cannot check Ed25519 signatures (it relies on "
                "the file's Authenticode signature)",
            1);
#endif
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qgsetup::setup_anchor();  // keeps the anchor record in the program
  sys::attach_console();
  std::vector<std::string> args;
  std::string error;
  int helper_status = 0;
  if (sys::arguments(argc, argv, &args, &error) == 0 && sys::run_helper(args, &helper_status))
    return helper_status;
  std::vector<char*> list = {argv[0]};
  for (std::string& a : args) list.push_back(a.data());
  list.push_back(nullptr);
  Options opt;
  if (!error.empty() ||
      parse_options(static_cast<int>(list.size()) - 1, list.data(), &opt, &error) ||
      check_offered(opt, &error)) {
    std::fprintf(stderr, "qg-setup: %s (--help lists the options)\n", error.c_str());
    return qgsetup::kSetupUsage;
  }
  if (opt.mode == Mode::help) {
    sys::show_output(help_text() + sys::help_notes(), opt.silent);
    return 0;
  }
  if (opt.mode == Mode::version) {
    sys::show_output(std::string("qg-setup ") + QG_VERSION + "\n", opt.silent);
    return 0;
  }
  UiOptions uo;
  uo.quiet = opt.quiet;
  uo.silent = opt.silent;
  uo.yes = opt.yes;
  uo.progress_fd = opt.progress_fd;
  uo.log_path = opt.log_path;
  // What --list, --info, --check and --installed print goes into one box
  // where no console shows it (a windowed program started from Explorer).
  uo.collect = !sys::has_console() && (opt.mode == Mode::list || opt.mode == Mode::info ||
                                       opt.mode == Mode::check || opt.mode == Mode::installed);
  Ui ui;
  if (!ui.start(uo)) return qgsetup::kSetupUsage;
  host_start(&ui);
  int status = run(opt, ui);
  // A question the user cancelled (the window's Cancel) is a cancel.
  if (status == qgsetup::kSetupAnswerNeeded && cancel_requested())
    status = qgsetup::kSetupCancelled;
  if (opt.mode == Mode::install) sys::window_finish(finish_text(status, ui), !opt.silent);
  host_stop();
  if (uo.collect && !ui.collected().empty()) sys::show_output(ui.collected(), opt.silent);
  ui.progress_line("result " + std::to_string(status));
  ui.log("exit status " + std::to_string(status));
  return status;
}
