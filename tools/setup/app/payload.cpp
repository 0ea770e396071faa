// The payload: verifying the installer, listing it, and extracting its
// entries with QEN_NEXTLOOP and QEN_UNPACK, then restoring what the archive
// format cannot keep (modes, links, empty folders, times).
#include <cerrno>
#include <cstring>
#include <ctime>

#include "host.h"
#include "install.h"
#include "payload_meta.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "setup_exit_codes.h"
#include "sys.h"

namespace setup {

namespace {

// The library takes the archive's name in a buffer of 256 bytes.
constexpr size_t kLibraryPath = 256;

// The running program's name for the library (the name it is opened by, so
// that the file verified is the file extracted): false when it does not fit.
bool self_for_library(char (&path)[kLibraryPath]) {
  std::string self = sys::self_open_name();
  if (self.size() >= kLibraryPath) return false;
  std::memcpy(path, self.c_str(), self.size() + 1);
  return true;
}

std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Sets the password of encrypted entries from --password-file or a
// question; kStepAnswerNeeded when neither can give it.
int ensure_password(Installation& in) {
  if (in.password_set) return kStepOk;
  std::string pw;
  if (!in.opt.password_file.empty()) {
    std::vector<std::string> lines;
    if (!read_lines(in.opt.password_file, &lines, 4096) || lines.empty()) {
      in.ui.error("cannot read the password file " + shown(in.opt.password_file));
      return kStepFailed;
    }
    pw = lines[0];
    if (!pw.empty() && pw.back() == '\r') pw.pop_back();
  } else if (!in.ui.ask_secret("Password: ", &pw)) {
    in.ui.error("the payload is encrypted: a password is needed (--password-file FILE)");
    return kStepAnswerNeeded;
  }
  if (pw.size() > 83) {
    in.ui.error("the password is longer than 83 characters");
    return kStepFailed;
  }
  QEN_DECRYPTKEY(pw.c_str());
  in.password_set = true;
  return kStepOk;
}

std::string unpack_text(int32_t r) {
  switch (r) {
    case 7:
      return "folder could not be created";
    case 15:
      return "the file could not be created or replaced";
    case 20:
      return "write failure (is the disk full?)";
    case 21:
      return "the installer cannot be opened";
    case 31:
      return "CRC-32 mismatch";
    case 50:
      return "wrong password";
    default:
      return "extraction failed with code " + std::to_string(r);
  }
}

// One pass over the entries' headers: the payload's size, and a check that
// every entry maps to a file of the setup data, before anything is made.
int scan_entries(Installation& in) {
  char path[kLibraryPath];
  if (!self_for_library(path)) {
    in.ui.error("the installer's path is longer than the library takes (255 bytes): " +
                shown(sys::self_path()));
    return kStepFailed;
  }
  QEN_RESETDLL();
  UDF1(static_cast<uint32_t>(in.layout.archive_offset), 2961);
  EntryInfo info;
  uint32_t e = 0;
  in.payload_bytes = 0;
  int32_t r;
  while ((r = QEN_NEXTLOOP(path, 0, &info)) == 0) {
    if (!qgsetup::item_for_entry(in.data, e)) {
      in.ui.error("archive entry " + std::to_string(e) + " has no place in the payload");
      QEN_RESETDLL();
      return kStepFailed;
    }
    in.payload_bytes += info.header.unpacked_size;
    ++e;
  }
  QEN_RESETDLL();
  if (r != 1 || e != in.data.entry_count) {
    in.ui.error("the archive does not match its setup data");
    return kStepFailed;
  }
  return kStepOk;
}

// Journals an output file before QEN_UNPACK writes it: a backup of what is
// there, or the note that it is new.
int journal_output(Installation& in, const std::string& full) {
  struct stat st;
  if (sys::link_stat(full, &st) != 0) return in.journal.created_file(full);
  if (S_ISDIR(st.st_mode)) {
    in.ui.error(shown(full) + " is a folder; the payload has a file there");
    return -1;
  }
  return in.journal.back_up(full, in.meta_dir + "/backup");
}

int extract_one(Installation& in, char* path, const EntryInfo& info,
                const qgsetup::PayloadItem& item, uint64_t done, bool journaled) {
  std::string full = in.target + "/" + item.path;
  std::string dest = parent_of(full), name = base_of(full);
  if (dest.size() + 1 + name.size() > 255 || name.size() > 255) {
    in.ui.error("path too long for the library (255 bytes): " + shown(full));
    return kStepFailed;
  }
  if ((info.header.attributes & RZ_ATTR_ENCRYPTED) && ensure_password(in) != kStepOk)
    return in.password_set ? kStepFailed : kStepAnswerNeeded;
  if (journaled && (journal_output(in, full) != 0 ||
                    in.journal.note({"partial", full, num(static_cast<uint64_t>(::time(nullptr)))},
                                    false) != 0)) {
    in.ui.error("cannot prepare " + shown(full) + ": " + std::strerror(errno));
    return kStepFailed;
  }
  in.ui.progress_line("file " + escape_field(item.path));
  in.ui.log("extract " + shown(item.path));
  host_set_entry(done, info.header.unpacked_size);
  char spare[4] = "";
  uint32_t options = UNPACK_NO_PATH_PROMPT | UNPACK_OVERWRITE | UNPACK_PROGRESS;
  int32_t r = QEN_UNPACK(name.c_str(), spare, path, dest.c_str(), options);
  if (r == -2 || (r == -30 && cancel_requested()) || drain_cancel()) return kStepCancelled;
  if (r != 0) {
    in.ui.error(shown(item.path) + ": " + unpack_text(r));
    return kStepFailed;
  }
  in.record.items.push_back(
      {"file", full, num(info.header.unpacked_size), crc_text(info.header.crc32)});
  return kStepOk;
}

qgsetup::MetadataHooks hooks_for(Installation& in, bool journaled) {
  qgsetup::MetadataHooks hooks;
  hooks.before_create = [&in, journaled](const qgsetup::PayloadItem& item) {
    std::string full = in.target + "/" + item.path;
    bool dir = item.kind == qgsetup::ItemKind::directory;
    in.record.items.push_back(dir ? Fields{"dir", full} : Fields{"link", full, item.link_target});
    if (!journaled) return 0;
    return (dir ? in.journal.created_dir(full) : in.journal.created_file(full)) == 0 ? 0 : 1;
  };
  hooks.warn = [&in](const std::string& message) { in.ui.warn(message); };
  return hooks;
}

#ifdef _WIN32
// The payload path a link's target names, "" when it leaves the payload.
std::string link_source(const qgsetup::PayloadItem& link) {
  if (link.link_target.empty() || link.link_target[0] == '/') return "";
  std::vector<std::string> parts;
  std::string joined = parent_of(link.path);
  joined = (joined.empty() ? "" : joined + "/") + link.link_target;
  size_t at = 0;
  while (at <= joined.size()) {
    size_t end = joined.find('/', at);
    if (end == std::string::npos) end = joined.size();
    std::string c = joined.substr(at, end - at);
    if (c == "..") {
      if (parts.empty()) return "";
      parts.pop_back();
    } else if (!c.empty() && c != ".") {
      parts.push_back(c);
    }
    at = end + 1;
  }
  std::string out;
  for (const std::string& c : parts) out += (out.empty() ? "" : "/") + c;
  return out;
}

// Windows lets only privileged users make symbolic links, so a link to a
// file of the payload is installed as a copy of that file (recorded as a
// file, so that uninstalling removes it when unchanged); other links are
// left out with a warning.
int install_link_copies(Installation& in, bool journaled) {
  for (const qgsetup::PayloadItem& item : in.data.items) {
    if (item.kind != qgsetup::ItemKind::symlink) continue;
    std::string source = link_source(item);
    const qgsetup::PayloadItem* target = nullptr;
    for (const qgsetup::PayloadItem& other : in.data.items)
      if (other.kind == qgsetup::ItemKind::file && other.path == source) target = &other;
    if (!target) {
      in.ui.warn("the link " + shown(item.path) + " -> " + shown(item.link_target) +
                 " is left out: Windows installs links to payload files only (as copies)");
      continue;
    }
    std::string full = in.target + "/" + item.path;
    if (journaled && journal_output(in, full) != 0) return kStepFailed;
    if (sys::copy_file(in.target + "/" + source, full) != 0) {
      in.ui.error("cannot copy " + shown(source) + " to " + shown(item.path));
      return kStepFailed;
    }
    struct stat st;
    uint32_t crc = 0;
    if (::stat(full.c_str(), &st) != 0 ||
        !file_crc32(full, static_cast<uint64_t>(st.st_size), &crc))
      return kStepFailed;
    in.record.items.push_back(
        {"file", full, num(static_cast<uint64_t>(st.st_size)), crc_text(crc)});
  }
  return kStepOk;
}
#endif

}  // namespace

int load_installer(Installation& in) {
  in.self = sys::self_path();
  const std::string self = sys::self_open_name();
  qgsetup::VerifyOptions vo;
  if (!in.opt.require_key.empty()) {
    std::string err;
    if (qgsetup::read_public_key_pem(in.opt.require_key, &vo.required_key, &err)) {
      in.ui.error("--require-key: " + err);
      return qgsetup::kSetupUsage;
    }
    vo.require_key = true;
  }
  bool started = false;
  vo.progress = [&in, &started](uint64_t done, uint64_t total) {
    if (!started) in.ui.begin_progress("verify", total);
    started = true;
    in.ui.progress(done);
    return !cancel_requested();
  };
  qgsetup::VerifyResult vr;
  int failure = qgsetup::verify_installer(self, vo, &vr);
  if (started) in.ui.end_progress();
  if (failure == qgsetup::kVerifyCancelled) {
    in.ui.error("cancelled during verification; nothing was changed");
    return qgsetup::kSetupCancelled;
  }
  if (failure != qgsetup::kVerifyOk) {
    in.ui.error("this installer is damaged or not genuine (" +
                std::string(qgsetup::verify_failure_name(failure)) + "): " + vr.message +
                "; nothing was changed");
    return qgsetup::kSetupIntegrity;
  }
  if (vr.is_signed && vr.signature_unchecked)
    in.ui.info("Carries an Ed25519 signature by key " + vr.signer_fingerprint +
               ", which this build does not check (it relies on Authenticode)");
  else if (vr.is_signed)
    in.ui.info("Signed by key " + vr.signer_fingerprint);
  in.layout = vr.layout;
  std::string err;
  if (qgsetup::read_setup_data(self, in.layout, &in.data, &err)) {
    in.ui.error("cannot read the setup data: " + err);
    return qgsetup::kSetupIntegrity;
  }
  in.script.parse(in.data.script);
  in.product = in.script.get("SETUP", "Name", "this program");
  in.version = in.script.get("SETUP", "Version");
  in.publisher = in.script.get("SETUP", "Publisher");
  if (scan_entries(in) != kStepOk) return qgsetup::kSetupIntegrity;
  return 0;
}

int extract_payload(Installation& in, bool journaled) {
  std::string err;
  char path[kLibraryPath];
  if (!self_for_library(path)) {
    in.ui.error("the installer's path is longer than the library takes (255 bytes)");
    return kStepFailed;
  }
#ifdef _WIN32
  // No links are followed or made there; the metadata steps take the name.
  const std::string& root = in.target;
  auto close_root = [] {};
#else
  int root = ::open(in.target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    in.ui.error("cannot open " + shown(in.target) + ": " + std::strerror(errno));
    return kStepFailed;
  }
  auto close_root = [root] { ::close(root); };
#endif
  qgsetup::MetadataHooks hooks = hooks_for(in, journaled);
  if (qgsetup::create_payload_directories(root, in.data, hooks, &err)) {
    close_root();
    in.ui.error(err);
    return kStepFailed;
  }
  QEN_RESETDLL();
  UDF1(static_cast<uint32_t>(in.layout.archive_offset), 2961);
  in.ui.begin_progress("extract", in.payload_bytes);
  EntryInfo info;
  uint64_t done = 0;
  int step = kStepOk;
  for (uint32_t e = 0; step == kStepOk; ++e) {
    int32_t r = QEN_NEXTLOOP(path, 0, &info);
    if (r == 1) break;
    const qgsetup::PayloadItem* item = qgsetup::item_for_entry(in.data, e);
    if (r != 0 || !item) {
      in.ui.error("the archive cannot be read (code " + std::to_string(r) + ")");
      step = kStepFailed;
      break;
    }
    step = extract_one(in, path, info, *item, done, journaled);
    done += info.header.unpacked_size;
    in.ui.progress(done);
  }
  QEN_RESETDLL();
  in.ui.end_progress();
  if (step == kStepOk && cancel_requested()) step = kStepCancelled;
#ifdef _WIN32
  if (step == kStepOk) step = install_link_copies(in, journaled);
#endif
  if (step == kStepOk &&
      qgsetup::apply_payload_metadata(root, in.data, qgsetup::current_umask(), hooks, &err)) {
    in.ui.error(err);
    step = kStepFailed;
  }
  close_root();
  return step;
}

int run_list(Installation& in) {
  for (const qgsetup::PayloadItem& item : in.data.items) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", item.mode & 07777);
    const char* kind = item.kind == qgsetup::ItemKind::directory ? "dir "
                       : item.kind == qgsetup::ItemKind::symlink ? "link"
                                                                 : "file";
    std::string line = std::string(kind) + " " + mode + " " + shown(item.path);
    if (item.kind == qgsetup::ItemKind::symlink) line += " -> " + shown(item.link_target);
    in.ui.info(line);
  }
  return 0;
}

int run_info(Installation& in) {
  in.ui.info("Product:   " + in.product);
  in.ui.info("Version:   " + in.version);
  in.ui.info("Publisher: " + in.publisher);
  in.ui.info("Default:   " + default_dir(in));
  in.ui.info("Licence:   " + (in.data.license_name.empty() ? "none" : in.data.license_name));
  in.ui.info("Payload:   " + std::to_string(in.data.items.size()) + " items, " +
             std::to_string(in.payload_bytes) + " bytes in " + std::to_string(in.data.entry_count) +
             " files");
  in.ui.info("Script:    " + in.data.script_name);
#ifdef QGSETUP_NO_ED25519
  in.ui.info(
      "Signature: Ed25519 signatures are not checked by this build; it relies on the "
      "file's Authenticode signature alone");
#endif
  return 0;
}

int run_extract_only(Installation& in) {
  // qg's statuses: 0 done, 1 some failed, 2 unreadable, 3 cancelled.
  std::string err;
  if (make_dirs(nullptr, in.target, &err) != 0) {
    in.ui.error(err);
    return 1;
  }
  int step = extract_payload(in, false);
  if (step == kStepCancelled) return 3;
  if (step == kStepAnswerNeeded) return 1;
  return step == kStepOk ? 0 : 1;
}

}  // namespace setup
