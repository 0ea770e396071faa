#include "options.h"

#include <cstdlib>
#include <cstring>

#include "setup_exit_codes.h"

namespace setup {

namespace {

struct Flag {
  const char* name;
  bool Options::*field;
};

const Flag kFlags[] = {
    {"--silent", &Options::silent},     {"--quiet", &Options::quiet},
    {"--yes", &Options::yes},           {"--accept-license", &Options::accept_license},
    {"--force", &Options::force},       {"--no-run", &Options::no_run},
    {"--elevated", &Options::elevated},
};

struct Valued {
  const char* name;
  std::string Options::*field;
};

const Valued kValued[] = {
    {"--password-file", &Options::password_file},
    {"--log", &Options::log_path},
    {"--require-key", &Options::require_key},
};

struct ModeName {
  const char* name;
  Mode mode;
};

const ModeName kModes[] = {
    {"--list", Mode::list},           {"--info", Mode::info}, {"--check", Mode::check},
    {"--installed", Mode::installed}, {"--help", Mode::help}, {"-h", Mode::help},
    {"--version", Mode::version},
};

int set_mode(Options* out, Mode mode, const std::string& name, std::string* error) {
  if (out->mode != Mode::install && out->mode != mode) {
    *error = name + " cannot be combined with another action";
    return 1;
  }
  out->mode = mode;
  return 0;
}

// --name VALUE or --name=VALUE; *value set and *i advanced when it matches.
bool valued(const std::string& arg, const char* name, int argc, char** argv, int* i,
            std::string* value, bool* missing) {
  size_t n = std::strlen(name);
  if (arg.compare(0, n, name) != 0) return false;
  if (arg.size() > n && arg[n] == '=') {
    *value = arg.substr(n + 1);
    return true;
  }
  if (arg.size() != n) return false;
  if (*i + 1 >= argc) {
    *missing = true;
    return true;
  }
  *value = argv[++*i];
  return true;
}

int parse_one(const std::string& arg, int argc, char** argv, int* i, Options* out,
              std::string* error) {
  for (const Flag& f : kFlags)
    if (arg == f.name) return (out->*f.field = true, 0);
  for (const ModeName& m : kModes)
    if (arg == m.name) return set_mode(out, m.mode, arg, error);
  bool missing = false;
  std::string value;
  for (const Valued& v : kValued) {
    if (valued(arg, v.name, argc, argv, i, &value, &missing)) {
      if (missing) return (*error = arg + " needs a value", 1);
      out->*v.field = value;
      return 0;
    }
  }
  if (valued(arg, "--components", argc, argv, i, &value, &missing)) {
    if (missing) return (*error = arg + " needs a value", 1);
    out->components = value;
    out->has_components = true;
    return 0;
  }
  if (valued(arg, "--progress-fd", argc, argv, i, &value, &missing)) {
    char* end = nullptr;
    long fd = missing ? -1 : std::strtol(value.c_str(), &end, 10);
    if (missing || value.empty() || *end || fd < 0 || fd > 1 << 20)
      return (*error = "--progress-fd needs a file descriptor number", 1);
    out->progress_fd = static_cast<int>(fd);
    return 0;
  }
  Mode dir_mode = Mode::install;
  bool dir_option = valued(arg, "--target", argc, argv, i, &value, &missing);
  if (!dir_option && valued(arg, "--extract", argc, argv, i, &value, &missing)) {
    dir_option = true;
    dir_mode = Mode::extract;
  }
  if (dir_option) {
    if (missing || value.empty()) return (*error = arg + " needs a directory", 1);
    if (out->has_target) return (*error = "only one directory may be named", 1);
    out->target = value;
    out->has_target = true;
    return dir_mode == Mode::install ? 0 : set_mode(out, dir_mode, arg, error);
  }
  if (arg == "--uninstall") {
    // The directory is optional: the uninstaller in the target needs none.
    if (set_mode(out, Mode::uninstall, arg, error)) return 1;
    if (*i + 1 < argc && argv[*i + 1][0] != '-') {
      if (out->has_target) return (*error = "only one directory may be named", 1);
      out->target = argv[++*i];
      out->has_target = true;
    }
    return 0;
  }
  *error = "unknown option: " + arg;
  return 1;
}

}  // namespace

int parse_options(int argc, char** argv, Options* out, std::string* error) {
  *out = Options{};
  for (int i = 1; i < argc; ++i) {
    if (parse_one(argv[i], argc, argv, &i, out, error)) return 1;
  }
  if (out->quiet && !out->silent && out->mode == Mode::install) {
    // Errors only: nothing to answer questions with, so no questions either.
    out->silent = true;
  }
  return 0;
}

std::string help_text() {
  std::string h =
      "Usage: SETUP [OPTIONS]\n"
      "Installs the program this file carries: verifies the whole file, shows the\n"
      "licence, asks for the target folder, extracts, runs the install script, and\n"
      "can be rolled back and uninstalled.\n"
      "\n"
      "Options:\n"
      "  --target DIR          install into DIR (asked otherwise; default from the script)\n"
      "  --silent              never ask, never wait: every question takes its default,\n"
      "                        or the installation stops with exit status 14\n"
      "  --quiet               print errors only (implies --silent when installing)\n"
      "  --yes                 answer yes to every yes/no question (not the licence)\n"
      "  --accept-license      accept the licence without showing it\n"
      "  --password-file FILE  the password of encrypted entries (first line of FILE)\n"
      "  --components LIST     the components to install, by name, comma-separated\n"
      "  --list                list the payload (no installation)\n"
      "  --info                show the product, the script and the payload's size\n"
      "  --check               verify the file only\n"
      "  --extract DIR         extract the files only: no script, nothing run\n"
      "                        (exit status as qg extract: 0, 1 some failed, 2 unreadable,\n"
      "                        3 cancelled)\n"
      "  --log FILE            append every step to FILE\n"
      "  --progress-fd N       write machine-readable progress lines to descriptor N\n"
      "  --uninstall [DIR]     uninstall the installation in DIR (the uninstaller in\n"
      "                        an installed folder needs no DIR)\n"
      "  --installed           list the installed products\n"
      "  --force               uninstall: remove files changed since installation too\n"
      "  --no-run              do not run the script's command after installing\n"
      "  --require-key PEM     refuse the file unless it is signed by this public key\n"
      "  --help, --version\n"
      "\n"
      "Progress lines (--progress-fd), one per step, fields separated by one space:\n"
      "  progress STAGE DONE TOTAL   STAGE is verify, extract or download; bytes\n"
      "  file PATH                   a file is being extracted (PATH relative to the\n"
      "                              target, bytes below '!', '%' and DEL as %XX)\n"
      "  step NAME                   a script step begins: folders, registry,\n"
      "                              shortcuts, typelibs, downloads, record, run\n"
      "  result CODE                 the last line: the exit status\n"
      "\n";
  return h + qgsetup::kSetupExitCodeTable;
}

}  // namespace setup
