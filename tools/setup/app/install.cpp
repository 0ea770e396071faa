// The installation's flow: licence, components, target, lock, free space,
// then the journaled steps, and the rollback when one of them fails.
#include "install.h"

#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "raziza3z.h"
#include "registry.h"
#include "setup_exit_codes.h"
#include "sys.h"

namespace setup {

namespace {

using namespace qgsetup;

// "~", "~/x", "$HOME", "${HOME}" expanded; a relative path taken from the
// current directory; "." and ".." components and repeated slashes removed.
// On Windows backslashes become slashes first and the root ("C:/") stays.
std::string absolute_path(std::string p) {
#ifdef _WIN32
  for (char& c : p)
    if (c == '\\') c = '/';
#endif
  const std::string home = sys::home_dir();
  if (p == "~" || p.rfind("~/", 0) == 0) p = home + p.substr(1);
  for (const char* name : {"${HOME}", "$HOME"}) {
    size_t at;
    while ((at = p.find(name)) != std::string::npos) p.replace(at, std::strlen(name), home);
  }
  if (!sys::is_absolute(p)) p = sys::current_dir() + "/" + p;
#ifdef _WIN32
  for (char& c : p)
    if (c == '\\') c = '/';
#endif
  size_t root = sys::root_length(p);
  std::string head = p.substr(0, root);
  if (!head.empty() && head.back() == '/') head.pop_back();
  std::vector<std::string> parts;
  size_t at = root;
  while (at <= p.size()) {
    size_t end = p.find('/', at);
    if (end == std::string::npos) end = p.size();
    std::string c = p.substr(at, end - at);
    if (c == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!c.empty() && c != ".") {
      parts.push_back(c);
    }
    at = end + 1;
  }
  std::string out = head;
  for (const std::string& c : parts) out += "/" + c;
  return out.size() > head.size() ? out : head + "/";
}

// 1 when dir exists and holds anything, 0 when empty or missing.
int non_empty(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  int found = 0;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) {
      found = 1;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// The deepest folder of path that exists.
std::string existing_ancestor(std::string path) {
  struct stat st;
  size_t root = sys::root_length(path);
  while (path.size() > root && ::stat(path.c_str(), &st) != 0) {
    size_t slash = path.rfind('/');
    path =
        slash == std::string::npos || slash < root ? path.substr(0, root) : path.substr(0, slash);
  }
  return path;
}

int show_licence(Installation& in) {
  bool named = !in.script.get("SETUP", "License").empty();
  if (!named && in.data.license_name.empty()) return kStepOk;
  if (in.data.license.empty()) {
    in.ui.error("the script names a licence, but the installer carries none");
    return kStepFailed;
  }
  if (in.opt.accept_license) {
    in.ui.log("licence accepted (--accept-license)");
    return kStepOk;
  }
  bool accepted = false;
  if (!in.ui.show_text("Licence of " + in.product + ":", in.data.license) ||
      !in.ui.ask_yes_no(in.script.get("SETUP", "LicensePrompt", "Do you accept the licence?"),
                        false, &accepted, false)) {
    if (cancel_requested()) {
      in.ui.error("cancelled at the licence; nothing was installed");
      return kStepCancelled;
    }
    in.ui.error("the licence must be accepted (--accept-license)");
    return kStepAnswerNeeded;
  }
  if (!accepted) {
    in.ui.error("the licence was not accepted; nothing was installed");
    return kStepCancelled;
  }
  return kStepOk;
}

}  // namespace

std::string default_dir(const Installation& in) {
  std::string programs = sys::programs_dir(in.all_users);
  if (programs.empty()) return in.script.get("SETUP", "DefaultDir");
  std::string def = in.script.get("SETUP", "WindowsDir");
  if (!def.empty()) return def;
  std::string name = in.product;
  // Characters a Windows file name cannot hold.
  for (char& c : name)
    if (std::strchr("<>:\"/\\|?*", c) || static_cast<unsigned char>(c) < 0x20) c = '_';
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name.empty() ? "" : programs + "/" + name;
}

namespace {

int choose_target(Installation& in) {
  std::string def = default_dir(in);
  std::string chosen;
  if (in.opt.has_target) {
    chosen = in.opt.target;
  } else {
    std::string expanded;
    if (!def.empty() && !expand(def, &expanded)) {
      in.ui.error("the default folder is too long");
      return kStepFailed;
    }
    if (!expanded.empty()) expanded = absolute_path(expanded);
    if (!in.ui.ask_text(in.script.get("SETUP", "TargetPrompt", "Install into"), expanded,
                        &chosen)) {
      if (expanded.empty()) {
        in.ui.error("the script has no default folder: name one with --target DIR");
        return kStepAnswerNeeded;
      }
      chosen = expanded;
    }
  }
  if (chosen.empty()) {
    in.ui.error("no target folder given");
    return kStepAnswerNeeded;
  }
  in.target = absolute_path(chosen);
  in.meta_dir = in.target + "/.qg-setup";
  if (non_empty(in.target)) {
    in.ui.info(shown(in.target) +
               " exists and is not empty: the payload's files replace the files of the same "
               "names (kept until the installation has succeeded, then removed); every other "
               "file stays.");
    bool go = true;
    if (!in.opt.silent && in.ui.ask_yes_no("Install into it?", true, &go) && !go)
      return kStepCancelled;
  }
  return kStepOk;
}

// A lock beside nothing of the user's: one per target, so two installers
// into the same folder never interleave.  The descriptor stays open (and
// the lock held) until the process ends.
}  // namespace

int lock_target(Ui& ui, const std::string& target) {
  std::string error;
  for (int tries = 0; tries < 30; ++tries) {
    int r = sys::try_lock(target, &error);
    if (r == 0) return kStepOk;
    if (r < 0) {
      ui.error(error);
      return kStepFailed;
    }
    if (tries == 0) ui.info("Another installation in this folder is running; waiting...");
    sys::sleep_ms(100);
  }
  ui.error("another installation in " + shown(target) + " is still running");
  return -1;
}

namespace {

int check_space(Installation& in) {
  uint64_t needed = in.payload_bytes;
  for (int n = 1, count = in.script.count("DOWNLOADS"); n <= count; ++n)
    needed += static_cast<uint64_t>(in.script.item_int("DOWNLOADS", n, "size", 0));
  std::string where = existing_ancestor(in.target);
  uint64_t free_bytes = 0;
  if (sys::free_bytes(where, &free_bytes) != 0) return kStepOk;
  if (free_bytes < needed + (1u << 20)) {
    in.ui.error("not enough free space in " + shown(where) + ": " + std::to_string(needed) +
                " bytes needed, " + std::to_string(free_bytes) + " free");
    return kStepFailed;
  }
  return kStepOk;
}

// Finishes or rolls back an installation a crash left behind.
int recover(Installation& in) {
  std::string journal = in.meta_dir + "/journal";
  struct stat st;
  if (sys::link_stat(journal, &st) != 0) return kStepOk;
  in.ui.warn("an earlier installation into " + shown(in.target) +
             " did not finish; undoing what it left");
  return roll_back(journal, in.ui) == 0 ? kStepOk : kStepFailed;
}

// Creates the target and the setup folder and starts the journal.
int start_journal(Installation& in) {
  std::string err;
  std::vector<std::string> made;
  Journal pending;  // dirs made before the journal exists are noted after
  std::string probe = in.target;
  std::vector<std::string> missing;
  struct stat st;
  size_t root = sys::root_length(probe);
  while (::stat(probe.c_str(), &st) != 0 && probe.size() > root) {
    missing.insert(missing.begin(), probe);
    size_t slash = probe.rfind('/');
    probe =
        slash == std::string::npos || slash < root ? probe.substr(0, root) : probe.substr(0, slash);
  }
  for (const std::string& dir : missing) {
    if (sys::make_dir(dir, 0755) != 0 && errno != EEXIST) {
      in.ui.error("cannot create the folder " + shown(dir) + ": " + std::strerror(errno) +
                  "; nothing was installed");
      for (auto it = made.rbegin(); it != made.rend(); ++it) ::rmdir(it->c_str());
      return kStepFailed;
    }
    made.push_back(dir);
  }
  bool meta_made = sys::make_dir(in.meta_dir, 0755) == 0;
  if ((!meta_made && errno != EEXIST) || in.journal.create(in.meta_dir + "/journal") != 0) {
    in.ui.error("cannot write in " + shown(in.target) + ": " + std::strerror(errno) +
                "; nothing was installed");
    if (meta_made) ::rmdir(in.meta_dir.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) ::rmdir(it->c_str());
    return kStepFailed;
  }
  for (const std::string& dir : made) {
    in.journal.created_dir(dir);
    in.record.items.push_back({"dir", dir});
  }
  if (meta_made) in.journal.created_dir(in.meta_dir);
  if (sys::make_dir(in.meta_dir + "/backup", 0700) == 0)
    in.journal.created_dir(in.meta_dir + "/backup");
  return kStepOk;
}

int exit_for(int step) {
  switch (step) {
    case kStepOk:
      return kSetupOk;
    case kStepCancelled:
      return kSetupCancelled;
    case kStepAnswerNeeded:
      return kSetupAnswerNeeded;
    default:
      return kSetupFailed;
  }
}

// Steps before anything is made: each may stop the installation.
int prepare(Installation& in) {
  in.ui.begin_window(in.product);
  in.ui.info(in.product + (in.version.empty() ? "" : " " + in.version) +
             (in.publisher.empty() ? "" : " (" + in.publisher + ")"));
  int step = apply_messages(in);
  if (step == kStepOk) step = show_licence(in);
  if (step == kStepOk) step = choose_components(in);
  if (step == kStepOk) step = write_private_script(in);
  if (step == kStepOk) step = choose_target(in);
  if (step == kStepOk) step = write_private_script(in);  // now with the target
  if (step == kStepOk) step = check_space(in);
  return step;
}

// The journaled part; on failure the caller rolls back.
int install_steps(Installation& in) {
  int step = extract_payload(in, true);
  if (step == kStepOk && cancel_requested()) step = kStepCancelled;
  if (step == kStepOk) step = run_script_steps(in);
  if (step == kStepOk && cancel_requested()) step = kStepCancelled;
  if (step == kStepOk) step = place_uninstaller(in);
  if (step == kStepOk) step = write_uninstall_entry(in);
  if (step == kStepOk && cancel_requested()) step = kStepCancelled;
  if (step == kStepOk) {
    in.ui.progress_line("step record");
    in.record.product = in.product;
    in.record.version = in.version;
    in.record.publisher = in.publisher;
    in.record.target = in.target;
    in.record.store = reg_store_path();
    if (write_record(in.meta_dir + "/record", in.record) != 0) {
      in.ui.error("cannot write the install record in " + shown(in.meta_dir));
      step = kStepFailed;
    }
  }
  return step;
}

}  // namespace

std::string full_path(const std::string& path) {
  return absolute_path(path);
}

std::string uninstall_key(const std::string& product) {
  return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product;
}

int32_t uninstall_root(bool all_users) {
  // On POSIX the store is a file of the user who installs (root's own for
  // root), and all_users is never set there.
  return all_users ? RZ_ROOT_LOCAL_MACHINE : RZ_ROOT_CURRENT_USER;
}

bool expand(const std::string& text, std::string* out) {
  if (text.size() >= 1024) return false;
  char buf[1024];
  std::memcpy(buf, text.c_str(), text.size() + 1);
  CONVERTMACRO(buf, 5);
  *out = buf;
  return true;
}

int make_dirs(Journal* journal, const std::string& dir, std::string* error, InstallRecord* record) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return 0;
    *error = shown(dir) + " exists and is not a folder";
    return -1;
  }
  size_t slash = dir.rfind('/');
  if (slash != std::string::npos && slash >= sys::root_length(dir) &&
      make_dirs(journal, dir.substr(0, slash), error, record))
    return -1;
  if (journal && journal->created_dir(dir) != 0) {
    *error = "cannot write the journal";
    return -1;
  }
  if (sys::make_dir(dir, 0755) != 0 && errno != EEXIST) {
    *error = "cannot create the folder " + shown(dir) + ": " + std::strerror(errno);
    return -1;
  }
  if (record) record->items.push_back({"dir", dir});
  return 0;
}

int run_command(Ui& ui, const std::vector<std::string>& argv, const std::string& dir) {
  if (argv.empty()) return -1;
  int status = 0;
  std::string error;
  if (sys::run_and_wait(argv, dir, &status, &error) != 0) {
    ui.error("cannot start " + shown(argv[0]) + ": " + error);
    return -1;
  }
  return status;
}

namespace {

bool wants_all_users(const Installation& in) {
  // Only where the system has a folder for all users' programs (Windows).
  return in.script.get_int("SETUP", "AllUsers", 0) != 0 && !sys::programs_dir(true).empty();
}

int elevate_if_needed(Installation& in, bool* done) {
  *done = false;
  in.all_users = wants_all_users(in);
  if (!in.all_users) return kSetupOk;
  return run_with_rights(in.ui, in.opt, in.product + " installs for all users", done);
}

}  // namespace

int run_with_rights(Ui& ui, const Options& opt, const std::string& why, bool* done) {
  *done = false;
  if (sys::is_admin()) return kSetupOk;
  if (opt.elevated) {
    ui.error("the administrator's rights were asked for, but this process does not have them");
    return kSetupFailed;
  }
  if (opt.quiet) {
    // No window at all: the system's request for the rights would wait
    // for an answer nobody sees.
    ui.error(why + " and needs the administrator's rights: run it from an elevated prompt");
    return kSetupAnswerNeeded;
  }
  *done = true;
  int status = 0;
  std::string error;
  int r = sys::run_elevated(&status, &error);
  if (r == 1) {
    ui.error("the administrator's rights were refused; nothing was changed");
    return kSetupCancelled;
  }
  if (r != 0) {
    ui.error("cannot ask for the administrator's rights: " + error);
    return kSetupFailed;
  }
  ui.log("the run with the administrator's rights ended with status " + std::to_string(status));
  return status;
}

int run_install(Installation& in) {
  bool elevated_run = false;
  int elevation = elevate_if_needed(in, &elevated_run);
  if (elevated_run || elevation != kSetupOk) return elevation;
  int step = prepare(in);
  if (step != kStepOk) return exit_for(step);
  int lock = lock_target(in.ui, in.target);
  if (lock != kStepOk) return lock < 0 ? kSetupBusy : kSetupFailed;
  if (recover(in) != kStepOk) return kSetupRollbackIncomplete;
  step = start_journal(in);
  if (step != kStepOk) return exit_for(step);
  in.ui.log("installing " + in.product + " into " + in.target);
  step = install_steps(in);
  if (step != kStepOk) {
    in.ui.info(step == kStepCancelled ? "Cancelled; undoing the installation..."
                                      : "The installation failed; undoing it...");
    in.journal.close();
    if (roll_back(in.journal.path(), in.ui) != 0) {
      in.ui.error("the installation could not be undone completely (see the messages above)");
      return kSetupRollbackIncomplete;
    }
    in.ui.info("Everything was put back as it was.");
    return exit_for(step);
  }
  if (finish_journal(in.journal, in.ui) != 0) in.ui.warn("some backups could not be removed");
  ::rmdir((in.meta_dir + "/backup").c_str());
  in.ui.set_outcome(in.product + " is installed in " + sys::native_path(shown(in.target)) + ".");
  in.ui.info(in.ui.outcome());
  run_after_install(in);
  return kSetupOk;
}

}  // namespace setup
