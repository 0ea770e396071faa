// qg-setup: the setup program.  A copy of it heads every installer made by
// `qg pack --setup`; it finds its payload through its own anchor.
#include <cstdio>
#include <string>

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
      if (!in.script_file.empty()) ::unlink(in.script_file.c_str());
      return status;
  }
}

}  // namespace

int main(int argc, char** argv) {
  qgsetup::setup_anchor();  // keeps the anchor record in the program
  Options opt;
  std::string error;
  if (parse_options(argc, argv, &opt, &error)) {
    std::fprintf(stderr, "qg-setup: %s (--help lists the options)\n", error.c_str());
    return qgsetup::kSetupUsage;
  }
  if (opt.mode == Mode::help) {
    std::fputs(help_text().c_str(), stdout);
    return 0;
  }
  if (opt.mode == Mode::version) {
    std::printf("qg-setup %s\n", QG_VERSION);
    return 0;
  }
  UiOptions uo;
  uo.quiet = opt.quiet;
  uo.silent = opt.silent;
  uo.yes = opt.yes;
  uo.progress_fd = opt.progress_fd;
  uo.log_path = opt.log_path;
  Ui ui;
  if (!ui.start(uo)) return qgsetup::kSetupUsage;
  host_start(&ui);
  int status = run(opt, ui);
  host_stop();
  ui.progress_line("result " + std::to_string(status));
  ui.log("exit status " + std::to_string(status));
  return status;
}
