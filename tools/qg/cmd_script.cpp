// qg script: run the registry items of an install script as a setup program
// would; qg reg get: print a value of the registry store.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>

#include <filesystem>
#endif

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "commands.h"
#include "exit_codes.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

namespace {

struct ScriptArgs {
  std::string script;
  std::string tags;
  int32_t mode = 0;
  uint32_t os_mask = 0xffffffff;
  uint32_t condition_mask = 0xffffffff;
  std::string log;
  std::string registry;
};

struct RegGetArgs {
  std::string root;
  std::string key;
  std::string name;
  int32_t mode = 0;
  int32_t selector = 0;
  std::string registry;
};

// Root codes by number or by the usual names and their short forms.
int32_t root_code(const std::string& text) {
  static const std::map<std::string, int32_t> names = {
      {"1", 1}, {"HKCR", 1}, {"HKEY_CLASSES_ROOT", 1},
      {"2", 2}, {"HKCU", 2}, {"HKEY_CURRENT_USER", 2},
      {"3", 3}, {"HKLM", 3}, {"HKEY_LOCAL_MACHINE", 3},
      {"4", 4}, {"HKU", 4},  {"HKEY_USERS", 4},
      {"5", 5}, {"HKCC", 5}, {"HKEY_CURRENT_CONFIG", 5}};
  std::string upper;
  for (char c : text) upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  auto it = names.find(upper);
  return it == names.end() ? 0 : it->second;
}

#ifndef _WIN32
// The store's name in messages: the file given, or where it comes from.
std::string store_name(const std::string& registry) {
  return registry.empty() ? "the registry store ($RAZIZA3Z_REGISTRY or the user's data folder)"
                          : "the registry store " + registry;
}

// Tells what the store met (rz_host_registry_status): malformed lines are a
// warning, a failed write an error.
int report_store(uint32_t status, const std::string& registry) {
  if (status & RZ_STORE_BAD_LINES)
    std::fprintf(stderr,
                 "qg: warning: %s has malformed lines; they were skipped and are kept as they "
                 "are\n",
                 store_name(registry).c_str());
  if (status & RZ_STORE_WRITE_FAILED)
    return qg::fail(qg::kExitFileError,
                    "could not write " + store_name(registry) +
                        " (not a registry file, or no permission; nothing was written)");
  return qg::kExitOk;
}
#endif  // !_WIN32

#ifdef _WIN32

// On Windows the library writes and reads the system registry: there is no
// store file, and the install log is a file handle.
int refuse_store_file(const std::string& registry) {
  if (registry.empty()) return qg::kExitOk;
  return qg::fail(qg::kExitUsage,
                  "--registry names a registry store file, which only the POSIX build uses; "
                  "qg.exe writes and reads the Windows registry");
}

int run_script(const ScriptArgs& a) {
  if (access(a.script.c_str(), R_OK) != 0)
    return qg::fail(qg::kExitFileError, "cannot read " + a.script + ": " + std::strerror(errno));
  if (int r = refuse_store_file(a.registry)) return r;
  int log_fd = 1;  // the install log goes to standard output unless named
  if (!a.log.empty()) {
    log_fd = ::_open(a.log.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, 0644);
    if (log_fd < 0)
      return qg::fail(qg::kExitFileError,
                      "cannot open the log " + a.log + ": " + std::strerror(errno));
  }
  std::fflush(stdout);
  // Kernel handles keep their value within 32 bits (the library widens it back).
  intptr_t log_handle = ::_get_osfhandle(log_fd);
  // The profile functions look for a name without a folder in the Windows
  // folder, not in the current one.
  std::error_code ec;
  std::string script = std::filesystem::absolute(a.script, ec).string();
  if (ec) script = a.script;
  INITMAK(script.c_str(), a.mode, a.os_mask, a.condition_mask, static_cast<int32_t>(log_handle));
  int32_t result = WRITEREG(a.tags.c_str());
  if (log_fd != 1) ::_close(log_fd);
  std::fprintf(stderr, "qg: %d registry item(s) in the script\n", result - 1);
  return qg::kExitOk;
}

int run_reg_get(const RegGetArgs& a) {
  int32_t root = root_code(a.root);
  if (root == 0)
    return qg::fail(qg::kExitUsage,
                    "unknown root " + a.root + " (1-5, HKCR, HKCU, HKLM, HKU, HKCC)");
  if (int r = refuse_store_file(a.registry)) return r;
  INITMAK("", a.mode, 0, 0, -1);
  char result[128] = {};
  int32_t found = GETREG(root, a.key.c_str(), a.name.c_str(), result, a.selector);
  if (found != 1) return qg::fail(qg::kExitNotFound, "no such value, or one longer than 127 bytes");
  std::printf("%s\n", result);
  return qg::kExitOk;
}

#else

int run_script(const ScriptArgs& a) {
  if (access(a.script.c_str(), R_OK) != 0)
    return qg::fail(qg::kExitFileError, "cannot read " + a.script + ": " + std::strerror(errno));
  if (!a.registry.empty()) rz_host_set_registry_file(a.registry.c_str());
  int log_fd = 1;  // the install log goes to standard output unless named
  if (!a.log.empty()) {
    log_fd = ::open(a.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log_fd < 0)
      return qg::fail(qg::kExitFileError,
                      "cannot open the log " + a.log + ": " + std::strerror(errno));
  }
  std::fflush(stdout);
  INITMAK(a.script.c_str(), a.mode, a.os_mask, a.condition_mask, log_fd);
  rz_host_registry_status();
  int32_t result = WRITEREG(a.tags.c_str());
  uint32_t store = rz_host_registry_status();
  if (log_fd != 1) ::close(log_fd);
  std::fprintf(stderr, "qg: %d registry item(s) in the script\n", result - 1);
  return report_store(store, a.registry);
}

int run_reg_get(const RegGetArgs& a) {
  int32_t root = root_code(a.root);
  if (root == 0)
    return qg::fail(qg::kExitUsage,
                    "unknown root " + a.root + " (1-5, HKCR, HKCU, HKLM, HKU, HKCC)");
  if (!a.registry.empty()) rz_host_set_registry_file(a.registry.c_str());
  INITMAK("", a.mode, 0, 0, -1);
  rz_host_registry_status();
  if (rz_host_reg_query(root, a.key.c_str(), "", nullptr, nullptr, nullptr) < 0)
    return qg::fail(qg::kExitFileError,
                    "cannot read " + store_name(a.registry) + " (not a registry file)");
  char result[128] = {};
  int32_t found = GETREG(root, a.key.c_str(), a.name.c_str(), result, a.selector);
  report_store(rz_host_registry_status(), a.registry);
  if (found != 1) return qg::fail(qg::kExitNotFound, "no such value, or one longer than 127 bytes");
  std::printf("%s\n", result);
  return qg::kExitOk;
}

#endif  // _WIN32

void add_script(CLI::App& root, int& exit_code) {
  auto args = std::make_shared<ScriptArgs>();
  CLI::App* cmd = root.add_subcommand("script", "Write the registry items of an install script");
  cmd->add_option("script", args->script, "The script (an INI file)")->required();
  cmd->add_option("--tags", args->tags, "Tag characters of the items to write (untagged always)");
  cmd->add_option("--mode", args->mode, "Install mode")->capture_default_str();
  cmd->add_option("--os-mask", args->os_mask, "Operating-system bits of this installation")
      ->capture_default_str();
  cmd->add_option("--condition-mask", args->condition_mask, "Condition bits that hold")
      ->capture_default_str();
  cmd->add_option("--log", args->log, "Install log to append to (default: standard output)");
  cmd->add_option("--registry", args->registry,
                  "Registry store file (default: $RAZIZA3Z_REGISTRY, then the user's data folder)");
  cmd->callback([args, &exit_code] { exit_code = run_script(*args); });
}

void add_reg(CLI::App& root, int& exit_code) {
  auto args = std::make_shared<RegGetArgs>();
  CLI::App* reg = root.add_subcommand("reg", "Read the registry store");
  reg->require_subcommand(1);
  CLI::App* get = reg->add_subcommand("get", "Print a value (its text, up to 127 bytes)");
  get->add_option("root", args->root, "1-5, or HKCR, HKCU, HKLM, HKU, HKCC")->required();
  get->add_option("key", args->key, "Key path below the root")->required();
  get->add_option("name", args->name, "Value name (default: the key's default value)");
  get->add_option("--mode", args->mode, "Install mode (2 with --selector 3 reads \"Common NAME\")");
  get->add_option("--selector", args->selector, "Selector of the read");
  get->add_option("--registry", args->registry, "Registry store file");
  get->callback([args, &exit_code] { exit_code = run_reg_get(*args); });
}

qg::CommandRegistrar reg_script(60, add_script);
qg::CommandRegistrar reg_reg(70, add_reg);

}  // namespace
