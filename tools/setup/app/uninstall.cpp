// Uninstalling: exactly what the install record lists, in reverse order;
// files changed since the installation stay unless --force; registry values
// get their old values back; folders go once empty.  And --installed, which
// lists the uninstall entries of the registry store.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "install.h"
#include "raziza3z.h"
#include "registry.h"
#include "setup_exit_codes.h"
#include "sys.h"

namespace setup {

namespace {

using namespace qgsetup;

struct Tally {
  unsigned removed = 0, kept = 0, missing = 0, failed = 0;
};

int32_t root_of(const std::string& text) {
  uint64_t v = 0;
  return parse_num(text, &v) && v <= 5 ? static_cast<int32_t>(v) : 0;
}

// True when the file is as the installation left it.
bool unchanged(const Fields& f) {
  uint64_t size = 0;
  uint32_t want = 0, got = 0;
  struct stat st;
  if (f.size() != 4 || !parse_num(f[2], &size) || !parse_crc(f[3], &want)) return false;
  if (sys::link_stat(f[1], &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) != size)
    return false;
  return file_crc32(f[1], size, &got) && got == want;
}

void remove_file(Ui& ui, const Options& opt, const Fields& f, Tally& t) {
  struct stat st;
  if (sys::link_stat(f[1], &st) != 0) {
    ++t.missing;
    ui.log("already gone: " + shown(f[1]));
    return;
  }
  if (!unchanged(f) && !opt.force) {
    ++t.kept;
    ui.info("Kept " + shown(f[1]) + " (changed since the installation; --force removes it)");
    return;
  }
  if (::unlink(f[1].c_str()) != 0) {
    ++t.failed;
    ui.error("cannot remove " + shown(f[1]) + ": " + std::strerror(errno));
    return;
  }
  ++t.removed;
  ui.log("removed " + shown(f[1]));
}

void remove_link(Ui& ui, const Fields& f, Tally& t) {
  std::string target;
  if (sys::read_link(f[1], &target) != 0) {
    ++t.missing;
    return;
  }
  if (f.size() < 3 || target != f[2]) {
    ++t.kept;
    ui.info("Kept " + shown(f[1]) + " (changed since the installation)");
    return;
  }
  if (::unlink(f[1].c_str()) == 0) {
    ++t.removed;
  } else {
    ++t.failed;
    ui.error("cannot remove " + shown(f[1]) + ": " + std::strerror(errno));
  }
}

void remove_dir(Ui& ui, const std::string& dir, Tally& t) {
  if (::rmdir(dir.c_str()) == 0 || errno == ENOENT) return;
  if (errno == ENOTEMPTY || errno == EEXIST) {
    ui.info("Kept the folder " + shown(dir) + " (it holds files the installation did not make)");
    return;
  }
  ++t.failed;
  ui.error("cannot remove the folder " + shown(dir) + ": " + std::strerror(errno));
}

void restore_value(Ui& ui, const Fields& f, Tally& t) {
  RegValue old;
  uint64_t type = 0;
  if (f.size() == 6 && parse_num(f[4], &type) && from_hex(f[5], &old.data)) {
    old.present = true;
    old.type = static_cast<uint32_t>(type);
  } else if (f.size() != 5) {
    ++t.failed;
    return;
  }
  if (reg_put_back(root_of(f[1]), f[2], f[3], old) != 0) {
    ++t.failed;
    ui.error("cannot restore the registry value " + shown(f[2]) + "\\" + shown(f[3]));
  }
}

void undo_item(Ui& ui, const Options& opt, const Fields& f, Tally& t) {
  const std::string& kind = f[0];
  if ((kind == "file" || kind == "shortcut" || kind == "download" || kind == "program") &&
      f.size() == 4)
    remove_file(ui, opt, f, t);
  else if (kind == "link" && f.size() >= 2)
    remove_link(ui, f, t);
  else if (kind == "dir" && f.size() == 2)
    remove_dir(ui, f[1], t);
  else if (kind == "reg")
    restore_value(ui, f, t);
  else if (kind == "regkey" && f.size() == 3)
    reg_delete_key_if_empty(root_of(f[1]), f[2]);
  else if (kind == "typelib")
    ui.warn("the type library " + shown(f.size() > 1 ? f[1] : "") + " stays registered");
}

}  // namespace

int run_uninstall(Ui& ui, const Options& opt, const std::string& dir_arg) {
  std::string dir = full_path(dir_arg);
  InstallRecord record;
  std::string meta = dir + "/.qg-setup";
  if (!read_record(meta + "/record", &record)) {
    ui.error("nothing to uninstall in " + shown(dir) + " (no readable install record)");
    return kSetupNothingInstalled;
  }
  // The folder by the name the installation recorded, when this is it under
  // another name (a link, another drive letter): the record's paths, the
  // lock and the folders that hold the record are matched by that name.
  if (record.target != dir && sys::same_file(record.target, dir)) {
    dir = record.target;
    meta = dir + "/.qg-setup";
  }
  if (record.uninstall_root == RZ_ROOT_LOCAL_MACHINE && !sys::programs_dir(true).empty()) {
    bool done = false;
    int rights = run_with_rights(ui, opt, record.product + " was installed for all users", &done);
    if (done || rights != kSetupOk) return rights;
  }
  // The store the installation wrote, whatever the environment says now.
  if (!record.store.empty()) reg_use_store(record.store);
  int lock = lock_target(ui, dir);
  if (lock != kStepOk) return lock < 0 ? kSetupBusy : kSetupFailed;
  bool go = true;
  if (!opt.silent &&
      ui.ask_yes_no("Uninstall " + record.product + " from " + shown(dir) + "?", true, &go) && !go)
    return kSetupCancelled;
  if (!record.preuninstall.empty()) {
    ui.info("Running " + shown(record.preuninstall[0]));
    int status = run_command(ui, record.preuninstall, record.preuninstall_dir);
    ui.info("The command exited with status " + std::to_string(status) + ".");
  }
  reg_store_failed();
  Tally t;
  std::vector<std::string> holders;  // folders that hold the record itself
  // This very program, where its file cannot go while it runs: a copy
  // removes it (and the folders around it) once this process has ended.
  std::string self;
  for (auto it = record.items.rbegin(); it != record.items.rend(); ++it) {
    const Fields& f = *it;
    if (f[0] == "dir" && f.size() == 2 && meta.rfind(f[1] + "/", 0) == 0)
      holders.push_back(f[1]);
    else if (f[0] == "program" && f.size() == 4 && !sys::can_remove_running_program() &&
             sys::same_file(f[1], sys::self_path()) && unchanged(f))
      self = f[1];
    else
      undo_item(ui, opt, f, t);
  }
  if (reg_store_failed()) {
    ++t.failed;
    ui.error("the registry store could not be written");
  }
  if (t.failed) {
    ui.error("uninstall incomplete: " + std::to_string(t.failed) +
             " items are left; the record "
             "stays in " +
             shown(meta));
    return kSetupRollbackIncomplete;
  }
  ::unlink((meta + "/record").c_str());
  ::rmdir(meta.c_str());
  if (!self.empty()) {
    if (sys::remove_after_exit(self, holders) != 0) {
      ui.error("cannot start the removal of " + shown(self) + " after this program ends");
      return kSetupRollbackIncomplete;
    }
    ++t.removed;
    ui.log("the uninstaller and its folders are removed once it has ended");
    holders.clear();
  }
  for (const std::string& d : holders) remove_dir(ui, d, t);
  ui.info(record.product + " was uninstalled: " + std::to_string(t.removed) + " removed, " +
          std::to_string(t.kept) + " kept, " + std::to_string(t.missing) + " already gone.");
  return t.failed ? kSetupRollbackIncomplete : kSetupOk;
}

int run_installed(Ui& ui) {
  int found = 0;
  for (int32_t root : {RZ_ROOT_CURRENT_USER, RZ_ROOT_LOCAL_MACHINE}) {
    std::vector<std::string> products;
    reg_installed_products(root, &products);
    for (const std::string& product : products) {
      RegValue version, location;
      reg_read(root, uninstall_key(product), "DisplayVersion", &version);
      reg_read(root, uninstall_key(product), "InstallLocation", &location);
      ui.info(product + "\t" + reg_text_of(version) + "\t" + reg_text_of(location));
      ++found;
    }
  }
  if (!found) ui.info("Nothing is installed.");
  return 0;
}

}  // namespace setup
