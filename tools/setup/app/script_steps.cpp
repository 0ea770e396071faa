// The install script's own sections, each item tested with CHECKCONDITION:
// COMPONENTS (condition bits and registry tags), FOLDERS, DOWNLOADS, REG
// (written by WRITEREG after the old values are journaled), SHORTCUTS,
// TYPELIBS; then the uninstall entry, the uninstaller and the run command.
#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "anchor.h"
#include "payload_meta.h"
#include "host.h"
#include "install.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "registry.h"
#include "sha256.h"
#include "sys.h"

namespace setup {

namespace {

// The operating-system bits of this platform, as scripts test them with
// "+<n>os".
uint32_t os_mask() {
  return sys::os_bits();
}

bool applies(int n, const char* section) {
  return CHECKCONDITION(n, section) == 0;
}

// An item's text with the script's variables replaced.
int item_text(Installation& in, const char* section, int n, const char* suffix, std::string* out) {
  if (expand(in.script.item(section, n, suffix), out)) return kStepOk;
  in.ui.error(std::string("[") + section + "] item " + std::to_string(n) + ": text too long");
  return kStepFailed;
}

int journal_new_path(Installation& in, const std::string& path) {
  std::string err;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash >= sys::root_length(path) &&
      make_dirs(&in.journal, path.substr(0, slash), &err, &in.record) != 0) {
    in.ui.error(err);
    return kStepFailed;
  }
  struct stat st;
  int r = sys::link_stat(path, &st) == 0 ? in.journal.back_up(path, in.meta_dir + "/backup")
                                         : in.journal.created_file(path);
  if (r != 0) {
    in.ui.error("cannot prepare " + shown(path) + ": " + std::strerror(errno));
    return kStepFailed;
  }
  return kStepOk;
}

// A made file for the record: kind, path, size and CRC-32.
int record_file(Installation& in, const char* kind, const std::string& path) {
  struct stat st;
  uint32_t crc = 0;
  if (::stat(path.c_str(), &st) != 0 || !file_crc32(path, static_cast<uint64_t>(st.st_size), &crc))
    return kStepFailed;
  in.record.items.push_back({kind, path, num(static_cast<uint64_t>(st.st_size)), crc_text(crc)});
  return kStepOk;
}

int do_folders(Installation& in) {
  for (int n = 1, count = in.script.count("FOLDERS"); n <= count; ++n) {
    std::string path, err;
    if (!applies(n, "FOLDERS")) continue;
    if (item_text(in, "FOLDERS", n, "path", &path)) return kStepFailed;
    if (!sys::is_absolute(path)) {
      in.ui.error("[FOLDERS] item " + std::to_string(n) + ": not an absolute path");
      return kStepFailed;
    }
    struct stat st;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash >= sys::root_length(path) &&
        make_dirs(&in.journal, path.substr(0, slash), &err, &in.record) != 0) {
      in.ui.error(err);
      return kStepFailed;
    }
    if (::stat(path.c_str(), &st) == 0) continue;
    if (in.journal.created_dir(path) != 0) return kStepFailed;
    CREATEFOLDER(path.c_str());
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      in.ui.error("cannot create the folder " + shown(path));
      return kStepFailed;
    }
    in.record.items.push_back({"dir", path});
    in.ui.log("folder " + shown(path));
  }
  return kStepOk;
}

// Splits http://host[:port]/path.  False for anything else.
bool split_url(const std::string& url, std::string* host, uint32_t* port, std::string* path) {
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0) return false;
  size_t slash = url.find('/', scheme.size());
  std::string authority = url.substr(scheme.size(), slash - scheme.size());
  *path = slash == std::string::npos ? "/" : url.substr(slash);
  size_t colon = authority.rfind(':');
  *port = 80;
  if (colon != std::string::npos) {
    char* end = nullptr;
    long p = std::strtol(authority.c_str() + colon + 1, &end, 10);
    if (*end || p <= 0 || p > 65535) return false;
    *port = static_cast<uint32_t>(p);
    authority.resize(colon);
  }
  *host = authority;
  return !host->empty() && host->size() < 256 && path->size() < 256;
}

int download_one(Installation& in, int n) {
  std::string url, out, want_sha, host, path;
  uint32_t port = 0;
  if (item_text(in, "DOWNLOADS", n, "url", &url) || item_text(in, "DOWNLOADS", n, "output", &out) ||
      item_text(in, "DOWNLOADS", n, "sha256", &want_sha))
    return kStepFailed;
  int64_t want_size = in.script.item_int("DOWNLOADS", n, "size", -1);
  if (!split_url(url, &host, &port, &path) || !sys::is_absolute(out) || out.size() > 255 ||
      want_size < 0 || want_sha.size() != 64) {
    in.ui.error("[DOWNLOADS] item " + std::to_string(n) +
                ": needs an http:// URL, an absolute output path, a size and a SHA-256");
    return kStepFailed;
  }
  if (journal_new_path(in, out)) return kStepFailed;
  in.ui.log("download " + url + " to " + shown(out));
  in.ui.begin_progress("download", static_cast<uint64_t>(want_size));
  host_set_entry(0, static_cast<uint64_t>(want_size));
  int32_t r =
      GETHTTP(host.c_str(), path.c_str(), out.c_str(), 0, 0, port, "", "", 0, "", 0, 0, "qg-setup");
  in.ui.end_progress();
  if (r == GETHTTP_CANCELLED || drain_cancel()) return kStepCancelled;
  if (r != 0) {
    in.ui.error("download of " + url + " failed (code " + std::to_string(r) + ")");
    return kStepFailed;
  }
  struct stat st;
  std::array<uint8_t, 32> digest{};
  if (::stat(out.c_str(), &st) != 0 || st.st_size != want_size) {
    in.ui.error("download of " + url + ": " + std::to_string(st.st_size) + " bytes, " +
                std::to_string(want_size) + " expected");
    return kStepFailed;
  }
  std::string got = qgsetup::sha256_file(out, &digest) == 0 ? qgsetup::hex(digest.data(), 32) : "";
  for (char& c : want_sha) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (got != want_sha) {
    in.ui.error("download of " + url + ": SHA-256 " + got + " does not match " + want_sha);
    return kStepFailed;
  }
  return record_file(in, "download", out);
}

int do_downloads(Installation& in) {
  int count = in.script.count("DOWNLOADS");
  bool started = false;
  int step = kStepOk;
  for (int n = 1; n <= count && step == kStepOk; ++n) {
    if (!applies(n, "DOWNLOADS")) continue;
    if (!started && WEBSTARTUP() != 0) {
      in.ui.error("the network cannot be used");
      return kStepFailed;
    }
    started = true;
    step = download_one(in, n);
  }
  if (started) WEBCLEANUP();
  return step;
}

// The registry keys above and at key that do not exist yet, outermost first.
std::vector<std::string> missing_keys(int32_t root, const std::string& key) {
  std::vector<std::string> missing;
  std::string k = key;
  while (!k.empty() && !reg_key_exists(root, k)) {
    missing.insert(missing.begin(), k);
    size_t bs = k.rfind('\\');
    k = bs == std::string::npos ? "" : k.substr(0, bs);
  }
  return missing;
}

// Journals a value about to be written (its old value, and the keys that
// will be created) and adds it to the record.
int journal_value(Installation& in, int32_t root, const std::string& key, const std::string& name) {
  RegValue old;
  if (reg_read(root, key, name, &old) != 0) {
    in.ui.error("the registry store cannot be read");
    return kStepFailed;
  }
  for (const std::string& k : missing_keys(root, key)) {
    Fields f = {"regkey", num(static_cast<uint64_t>(root)), k};
    // Keys WRITEREG has yet to create are met again for its next value.
    bool noted = false;
    for (const Fields& item : in.record.items) noted = noted || item == f;
    if (noted) continue;
    if (in.journal.note(f, true) != 0) return kStepFailed;
    in.record.items.push_back(f);
  }
  Fields f = {"reg", num(static_cast<uint64_t>(root)), key, name};
  if (old.present) {
    f.push_back(num(old.type));
    f.push_back(to_hex(old.data));
  } else {
    f.push_back("absent");
  }
  if (in.journal.note(f, true) != 0) return kStepFailed;
  in.record.items.push_back(f);
  return kStepOk;
}

int do_registry(Installation& in) {
  // Every value WRITEREG is about to write, found as it finds them.
  for (int n = 1, count = in.script.count("REG"); n <= count; ++n) {
    if (!applies(n, "REG")) continue;
    std::string tag = in.script.item("REG", n, "z").substr(0, 1);
    if (!tag.empty() && in.reg_tags.find(tag[0]) == std::string::npos) continue;
    std::string key, name;
    if (item_text(in, "REG", n, "b", &key) || item_text(in, "REG", n, "c", &name))
      return kStepFailed;
    int32_t root = static_cast<int16_t>(in.script.item_int("REG", n, "a", 0));
    if (root < 1 || root > 5) continue;
    if (journal_value(in, root, key, name)) return kStepFailed;
  }
  reg_store_failed();  // clear the status before the writes
  WRITEREG(in.reg_tags.c_str());
  if (reg_store_failed()) {
    in.ui.error("the registry store cannot be written");
    return kStepFailed;
  }
  // The system's registry has no store-wide status, and WRITEREG reports
  // nothing: each value journaled above must be there now.
  if (reg_store_path().empty()) {
    for (const Fields& f : in.record.items) {
      RegValue now;
      uint64_t root = 0;
      if (f[0] != "reg" || f.size() < 4 || !parse_num(f[1], &root)) continue;
      if (reg_read(static_cast<int32_t>(root), f[2], f[3], &now) != 0 || !now.present) {
        in.ui.error("the registry value " + shown(f[2]) + "\\" + shown(f[3]) +
                    " could not be written");
        return kStepFailed;
      }
    }
  }
  return kStepOk;
}

int do_shortcuts(Installation& in) {
  for (int n = 1, count = in.script.count("SHORTCUTS"); n <= count; ++n) {
    if (!applies(n, "SHORTCUTS")) continue;
    std::string link;
    if (item_text(in, "SHORTCUTS", n, "link", &link)) return kStepFailed;
    if (!sys::is_absolute(link) || link.size() > 259) {
      in.ui.error("[SHORTCUTS] item " + std::to_string(n) + ": needs an absolute link path");
      return kStepFailed;
    }
    char target[1024] = "", dir[1024] = "", icon[1024] = "", args[1024] = "";
    struct {
      const char* suffix;
      char* buf;
      bool path;
    } texts[] = {
        {"target", target, true}, {"dir", dir, true}, {"icon", icon, true}, {"args", args, false}};
    for (auto& t : texts) {
      std::string v;
      if (item_text(in, "SHORTCUTS", n, t.suffix, &v)) return kStepFailed;
      // Scripts write paths with '/' on both systems; a shortcut holds the
      // system's own form, which its shell resolves (a URL target is left
      // as it is).
      if (t.path && sys::is_absolute(v)) v = sys::native_path(v);
      std::memcpy(t.buf, v.c_str(), v.size() + 1);
    }
    if (journal_new_path(in, link)) return kStepFailed;
    int32_t icon_index = static_cast<int32_t>(in.script.item_int("SHORTCUTS", n, "iconindex", 0));
    uint32_t hot_key = static_cast<uint32_t>(in.script.item_int("SHORTCUTS", n, "hotkey", 0));
    CREATELINK(target, link.c_str(), dir, icon, icon_index, args, hot_key);
    if (record_file(in, "shortcut", link) != kStepOk) {
      in.ui.error("cannot create the shortcut " + shown(link));
      return kStepFailed;
    }
    in.ui.log("shortcut " + shown(link) + " -> " + shown(target));
  }
  return kStepOk;
}

int do_typelibs(Installation& in) {
  for (int n = 1, count = in.script.count("TYPELIBS"); n <= count; ++n) {
    if (!applies(n, "TYPELIBS")) continue;
    std::string path;
    if (item_text(in, "TYPELIBS", n, "path", &path)) return kStepFailed;
    int32_t r = REGTLB(path.c_str());
    if (r != 0) {
      in.ui.error("cannot register the type library " + shown(path) + " (" + std::to_string(r) +
                  ")");
      return kStepFailed;
    }
    in.record.items.push_back({"typelib", path});
  }
  return kStepOk;
}

int set_value(Installation& in, int32_t root, const std::string& key, const std::string& name,
              uint32_t type, const std::string& data) {
  if (journal_value(in, root, key, name)) return kStepFailed;
  RegValue v{true, type, data};
  return reg_restore(root, key, name, v) == 0 ? kStepOk : kStepFailed;
}

std::string sz(const std::string& s) {
  return reg_text(s);
}

}  // namespace

int choose_components(Installation& in) {
  in.condition_mask = 0;
  in.reg_tags.clear();
  std::string wanted = "," + in.opt.components + ",";
  for (int n = 1, count = in.script.count("COMPONENTS"); n <= count; ++n) {
    std::string name = in.script.item("COMPONENTS", n, "name");
    std::string about = in.script.item("COMPONENTS", n, "description");
    bool chosen = in.script.item_int("COMPONENTS", n, "default", 1) != 0;
    if (in.opt.has_components) {
      chosen = wanted.find("," + name + ",") != std::string::npos;
    } else if (!in.opt.silent) {
      bool answer = chosen;
      if (in.ui.ask_yes_no("Install " + name + (about.empty() ? "" : " (" + about + ")") + "?",
                           chosen, &answer))
        chosen = answer;
    }
    if (!chosen) continue;
    in.condition_mask |= static_cast<uint32_t>(in.script.item_int("COMPONENTS", n, "bit", 0));
    in.reg_tags += in.script.item("COMPONENTS", n, "tag").substr(0, 1);
    in.ui.log("component " + name);
  }
  // Items without a condition always apply; the base bit 1 stands for the
  // installation itself.
  in.condition_mask |= 1;
  return kStepOk;
}

int apply_messages(Installation& in) {
  for (int id = 1; id <= 18; ++id) {
    std::string key = std::to_string(id);
    if (id == 9 || !in.script.has("MESSAGES", key)) continue;
    std::string text = in.script.get("MESSAGES", key);
    std::string fault = library_message_fault(id, text);
    if (!fault.empty()) {
      in.ui.warn("[MESSAGES] " + key + " is not used: " + fault);
      continue;
    }
    QEN_U_SETMSG(id, text.c_str());
  }
  return kStepOk;
}

int write_private_script(Installation& in) {
  std::vector<std::pair<std::string, std::string>> vars;
  for (int i = 1, count = static_cast<int>(in.script.get_int("VARIABLES", "#", 0));
       i <= count && i < 1000; ++i) {
    std::string name = in.script.get("VARIABLES", std::to_string(i));
    if (!name.empty()) vars.push_back({name, in.script.get("VARIABLES", name)});
  }
  vars.push_back({"%TARGET%", in.target});
  vars.push_back({"%HOME%", sys::home_dir()});
  vars.push_back({"%STARTMENU%", sys::start_menu_dir(in.all_users)});
  vars.push_back({"%DESKTOP%", sys::desktop_dir(in.all_users)});
  vars.push_back({"%PRODUCT%", in.product});
  vars.push_back({"%VERSION%", in.version});
  vars.push_back({"%PUBLISHER%", in.publisher});
  std::string text = in.script.with_variables(in.data.script, vars);
  if (in.script_file.empty() && sys::make_temp_file("qg-setup-script", &in.script_file) != 0) {
    in.ui.error("cannot write the script's working copy: " + std::string(std::strerror(errno)));
    return kStepFailed;
  }
  int fd = ::open(in.script_file.c_str(), O_WRONLY | O_TRUNC | sys::kOpenPrivate | O_NOFOLLOW);
  bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ::close(fd);
  if (!ok || in.script_file.size() > 254) {
    in.ui.error("cannot write the script's working copy " + shown(in.script_file));
    return kStepFailed;
  }
  INITMAK(in.script_file.c_str(), sys::is_admin() ? 2 : 1, os_mask(), in.condition_mask,
          sys::log_handle(in.ui.log_fd()));
  return kStepOk;
}

int run_script_steps(Installation& in) {
  struct {
    const char* name;
    int (*fn)(Installation&);
  } steps[] = {{"folders", do_folders},
               {"downloads", do_downloads},
               {"registry", do_registry},
               {"shortcuts", do_shortcuts},
               {"typelibs", do_typelibs}};
  for (auto& s : steps) {
    if (cancel_requested() || drain_cancel()) return kStepCancelled;
    in.ui.progress_line(std::string("step ") + s.name);
    int step = s.fn(in);
    if (step != kStepOk) return step;
  }
  return kStepOk;
}

int place_uninstaller(Installation& in) {
  in.ui.progress_line("step uninstaller");
  const std::string name = sys::uninstaller_name();
  std::string path = in.target + "/" + name;
  for (const qgsetup::PayloadItem& item : in.data.items)
    if (item.path == name) path = in.target + "/uninstall-" + in.product;
#ifdef _WIN32
  if (path != in.target + "/" + name) path += ".exe";
#endif
  if (journal_new_path(in, path)) return kStepFailed;
  // The setup program alone, its anchor saying "no payload": it then
  // uninstalls the folder it sits in.
  int src = ::open(sys::self_open_name().c_str(), O_RDONLY | sys::kOpenPrivate);
  int dst = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | sys::kOpenPrivate, 0755);
  bool ok = src >= 0 && dst >= 0;
  std::vector<unsigned char> buf(65536);
  uint64_t at = 0, stub = in.layout.setup_data_offset;
  while (ok && at < stub) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), stub - at));
    int64_t n = sys::read_at(src, buf.data(), want, at);
    ok = n > 0 && sys::write_at(dst, buf.data(), static_cast<size_t>(n), at) == n;
    at += ok ? static_cast<uint64_t>(n) : 0;
  }
  unsigned char anchor[qgsetup::kAnchorSize];
  uint64_t anchor_at = in.layout.anchor_offset;
  ok = ok &&
       sys::read_at(src, anchor, sizeof anchor, anchor_at) == static_cast<int64_t>(sizeof anchor);
  if (ok) {
    qgsetup::AnchorFields empty;
    empty.version = qgsetup::kAnchorVersion;
    empty.size = static_cast<uint32_t>(qgsetup::kAnchorSize);
    qgsetup::encode_anchor(empty, anchor);
    ok =
        sys::write_at(dst, anchor, sizeof anchor, anchor_at) == static_cast<int64_t>(sizeof anchor);
  }
  if (src >= 0) ::close(src);
  if (dst >= 0 && ::close(dst) != 0) ok = false;
  if (!ok) {
    in.ui.error("cannot write the uninstaller " + shown(path));
    return kStepFailed;
  }
  ::chmod(path.c_str(), 0755 & ~qgsetup::current_umask());
  return record_file(in, "program", path);
}

int write_uninstall_entry(Installation& in) {
  in.ui.progress_line("step uninstall-entry");
  int32_t root = uninstall_root(in.all_users);
  std::string key = uninstall_key(in.product);
  std::string uninstaller;
  for (const Fields& f : in.record.items)
    if (f[0] == "program") uninstaller = f[1];
#ifdef _WIN32
  const std::string quiet = "/VERYSILENT";
#else
  const std::string quiet = "--silent";
#endif
  uint64_t kib = (in.payload_bytes + 1023) / 1024;
  std::string dword(4, '\0');
  for (int i = 0; i < 4; ++i)
    dword[static_cast<size_t>(i)] = static_cast<char>((kib >> (8 * i)) & 0xff);
  struct {
    const char* name;
    uint32_t type;
    std::string data;
  } values[] = {
      {"DisplayName", kRegSz, sz(in.product)},
      {"DisplayVersion", kRegSz, sz(in.version)},
      {"Publisher", kRegSz, sz(in.publisher)},
      {"InstallLocation", kRegSz, sz(sys::native_path(in.target))},
      {"UninstallString", kRegSz, sz("\"" + sys::native_path(uninstaller) + "\"")},
      {"QuietUninstallString", kRegSz, sz("\"" + sys::native_path(uninstaller) + "\" " + quiet)},
      {"EstimatedSize", kRegDword, dword},
  };
  reg_store_failed();
  for (auto& v : values)
    if (set_value(in, root, key, v.name, v.type, v.data)) {
      in.ui.error("cannot write the uninstall entry");
      return kStepFailed;
    }
  if (reg_store_failed()) {
    in.ui.error("the registry store cannot be written");
    return kStepFailed;
  }
  in.record.uninstall_root = root;
  in.record.uninstall_key = key;
  std::string pre = in.script.get("SETUP", "PreUninstall");
  if (!pre.empty() && expand(pre, &pre)) {
    in.record.preuninstall = split_command(pre);
    std::string dir = in.script.get("SETUP", "RunDir");
    in.record.preuninstall_dir = dir.empty() || !expand(dir, &dir) ? in.target : dir;
  }
  return kStepOk;
}

void run_after_install(Installation& in) {
  std::string run = in.script.get("SETUP", "Run");
  if (run.empty()) return;
  if (in.opt.no_run) {
    in.ui.log("run command skipped (--no-run)");
    return;
  }
  std::string dir = in.script.get("SETUP", "RunDir");
  if (!expand(run, &run) || (!dir.empty() && !expand(dir, &dir))) return;
  if (dir.empty()) dir = in.target;
  std::vector<std::string> argv = split_command(run);
  in.ui.progress_line("step run");
  in.ui.info("Running " + shown(run) + " in " + shown(dir));
  int status = run_command(in.ui, argv, dir);
  if (status >= 0) in.ui.info("The command exited with status " + std::to_string(status) + ".");
}

}  // namespace setup
