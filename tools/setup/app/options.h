// The setup program's command line.
#pragma once

#include <string>

namespace setup {

enum class Mode { install, list, info, check, extract, uninstall, installed, help, version };

struct Options {
  Mode mode = Mode::install;
  std::string target;  // --target DIR, or the directory of --extract / --uninstall
  bool has_target = false;
  bool silent = false, quiet = false, yes = false, accept_license = false;
  bool force = false, no_run = false;
  // Set by an installer that started itself again with the administrator's
  // rights, so that it never asks for them a second time.
  bool elevated = false;
  std::string password_file, log_path, require_key, components;
  bool has_components = false;
  int progress_fd = -1;
};

// Parses argv; 0, or 1 with a message in *error (a usage error).
int parse_options(int argc, char** argv, Options* out, std::string* error);

// The text of --help (options, progress lines and the exit-code table).
std::string help_text();

}  // namespace setup
