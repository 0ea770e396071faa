// One installation, from the verified file to the install record, and the
// steps it is made of.  Every step that changes the machine journals its
// undo record first (journal.h); a failure or a cancel plays the journal
// back.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ini.h"
#include "installer.h"
#include "journal.h"
#include "options.h"
#include "record.h"
#include "ui.h"

namespace setup {

// How a step ended.
enum Step : int { kStepOk = 0, kStepFailed = 1, kStepCancelled = 2, kStepAnswerNeeded = 3 };

struct Installation {
  Installation(Ui& u, const Options& o) : ui(u), opt(o) {}
  Ui& ui;
  const Options& opt;
  std::string self;  // the installer file
  qgsetup::InstallerLayout layout;
  qgsetup::SetupData data;
  Ini script;
  std::string product, version, publisher;
  std::string target;    // absolute
  std::string meta_dir;  // target/.qg-setup
  Journal journal;
  InstallRecord record;
  uint32_t condition_mask = 0;
  std::string reg_tags;
  std::string script_file;  // private copy of the script for the library
  std::vector<std::pair<std::string, std::string>> vars;
  uint64_t payload_bytes = 0;
  bool password_set = false;
  // The script's AllUsers=1 where the system has it: the programs folder
  // for all users and the machine's uninstall entry, with the rights.
  bool all_users = false;
};

// The setup program's modes (each returns the exit status).
int run_install(Installation& in);
int run_list(Installation& in);
int run_info(Installation& in);
int run_extract_only(Installation& in);
int run_uninstall(Ui& ui, const Options& opt, const std::string& dir);
int run_installed(Ui& ui);

// Verifies the file and reads its setup data: 0, or an exit status.
int load_installer(Installation& in);

// Steps (install.cpp, payload.cpp, script_steps.cpp).
int choose_components(Installation& in);
int extract_payload(Installation& in, bool journaled);
// The script's [MESSAGES]: the library's own texts (its error boxes and
// prompts) replaced, each checked first.
int apply_messages(Installation& in);
int write_private_script(Installation& in);
int run_script_steps(Installation& in);
int write_uninstall_entry(Installation& in);
int place_uninstaller(Installation& in);
void run_after_install(Installation& in);

// Runs a command (argument vector, no shell) in dir and waits: its exit
// status, or -1 when it could not be started (reported).
int run_command(Ui& ui, const std::vector<std::string>& argv, const std::string& dir);

// Replaces the script's variables in text through the library; false when
// the result does not fit the library's 1024-byte buffer.
bool expand(const std::string& text, std::string* out);

// Creates dir and its missing parents, journaling each one made.  0, or -1
// with *error naming the directory that could not be made.
// Each directory made is also added to record (when given).
int make_dirs(Journal* journal, const std::string& dir, std::string* error,
              InstallRecord* record = nullptr);

// An absolute path: "~" and "$HOME" expanded, a relative path taken from
// the current directory, "." and ".." resolved by name.
std::string full_path(const std::string& path);

// Takes the lock of one target folder (held until the process ends):
// kStepOk, -1 when another installation holds it, or kStepFailed.
int lock_target(Ui& ui, const std::string& target);

// The default target as the script names it (unexpanded): DefaultDir; on a
// system with a per-user programs folder (Windows) WindowsDir, or
// PROGRAMS/<product> there.
std::string default_dir(const Installation& in);

// Where this process lacks the administrator's rights, runs this program
// again with them (the system asks the user) and waits: *done is set and
// that run's status returned.  Without a window to ask in (--quiet), 14
// with why in the message.  0 when this process may go on.
int run_with_rights(Ui& ui, const Options& opt, const std::string& why, bool* done);

// The registry root and key of a product's uninstall entry.
int32_t uninstall_root(bool all_users);
std::string uninstall_key(const std::string& product);

}  // namespace setup
