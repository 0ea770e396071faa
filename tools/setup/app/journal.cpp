#include "journal.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "registry.h"
#include "sys.h"
#include "ui.h"

namespace setup {

namespace {

// Copies a regular file (backups across file systems).  0 or -1.
int copy_file(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | sys::kOpenPrivate);
  if (in < 0) return -1;
  struct stat st;
  int out = -1;
  if (::fstat(in, &st) == 0)
    out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | sys::kOpenPrivate, st.st_mode & 07777);
  bool ok = out >= 0;
  char buf[65536];
  ssize_t n;
  while (ok && (n = ::read(in, buf, sizeof buf)) != 0) {
    if (n < 0) {
      ok = errno == EINTR;
      continue;
    }
    ok = write_all(out, std::string(buf, static_cast<size_t>(n)));
  }
  ::close(in);
  if (out >= 0 && (sys::sync_fd(out) != 0 || ::close(out) != 0)) ok = false;
  if (!ok) ::unlink(to.c_str());
  return ok ? 0 : -1;
}

// Moves a backup back over path (rename, or copy across file systems).
int put_back(const std::string& copy, const std::string& path) {
  // Still the same file (the change never happened): rename would keep
  // both names, so the copy's name is simply dropped.
  if (sys::same_file(copy, path)) return ::unlink(copy.c_str());
  if (sys::rename_replace(copy, path) == 0) return 0;
  if (errno != EXDEV) return -1;
  ::unlink(path.c_str());
  if (copy_file(copy, path) != 0) return -1;
  ::unlink(copy.c_str());
  return 0;
}

int32_t root_of(const std::string& text) {
  uint64_t v = 0;
  return parse_num(text, &v) && v <= 5 ? static_cast<int32_t>(v) : 0;
}

// Removes the temporary files "NAME.*.tmp" beside path that were made
// since `since` (older ones are not this installation's).
void remove_partials(const std::string& path, time_t since) {
  size_t slash = path.rfind('/');
  std::string dir = path.substr(0, slash), prefix = path.substr(slash + 1) + ".";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    struct stat st;
    std::string full = dir + "/" + name;
    if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - 4, 4, ".tmp") == 0 && sys::link_stat(full, &st) == 0 &&
        S_ISREG(st.st_mode) && st.st_mtime >= since - 1)
      ::unlink(full.c_str());
  }
  ::closedir(d);
}

// Undoes one record; 0 done (or nothing to do), 1 left, with a message.
int undo(const Fields& r, Ui& ui) {
  const std::string& kind = r[0];
  if (kind == "dir" && r.size() == 2) {
    if (::rmdir(r[1].c_str()) == 0 || errno == ENOENT) return 0;
    ui.warn("folder left in place (not empty): " + shown(r[1]));
    return 1;
  }
  if (kind == "file" && r.size() == 2) {
    if (::unlink(r[1].c_str()) == 0 || errno == ENOENT) return 0;
    ui.error("cannot remove " + shown(r[1]) + ": " + std::strerror(errno));
    return 1;
  }
  if (kind == "backup" && r.size() == 3) {
    struct stat st;
    // No copy: the record was written but the old file was never touched.
    if (sys::link_stat(r[2], &st) != 0) return 0;
    if (put_back(r[2], r[1]) == 0) return 0;
    ui.error("cannot restore " + shown(r[1]) + " from " + shown(r[2]) + ": " +
             std::strerror(errno));
    return 1;
  }
  if (kind == "reg" && (r.size() == 5 || r.size() == 6)) {
    RegValue old;
    uint64_t type = 0;
    if (r.size() == 6) {
      if (!parse_num(r[4], &type) || !from_hex(r[5], &old.data)) return 1;
      old.present = true;
      old.type = static_cast<uint32_t>(type);
    }
    if (reg_put_back(root_of(r[1]), r[2], r[3], old) == 0) return 0;
    ui.error("cannot restore the registry value " + shown(r[2]) + "\\" + shown(r[3]));
    return 1;
  }
  uint64_t since = 0;
  if (kind == "partial" && r.size() == 3 && parse_num(r[2], &since)) {
    remove_partials(r[1], static_cast<time_t>(since));
    return 0;
  }
  if (kind == "regkey" && r.size() == 3) {
    int k = reg_delete_key_if_empty(root_of(r[1]), r[2]);
    if (k == 0) return 0;
    if (k == 1) {
      ui.warn("registry key left in place (not empty): " + shown(r[2]));
      return 0;
    }
    ui.error("cannot remove the registry key " + shown(r[2]));
    return 1;
  }
  ui.error("journal record not understood: " + shown(kind));
  return 1;
}

}  // namespace

Journal::~Journal() {
  close();
}

void Journal::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int Journal::create(const std::string& path) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | sys::kOpenPrivate, 0600);
  return fd_ >= 0 ? 0 : -1;
}

int Journal::note(const Fields& record, bool durable) {
  if (fd_ < 0 || !write_all(fd_, join_fields(record))) return -1;
  if (durable && sys::sync_data(fd_) != 0) return -1;
  return 0;
}

int Journal::created_dir(const std::string& path) {
  return note({"dir", path}, false);
}

int Journal::created_file(const std::string& path) {
  return note({"file", path}, false);
}

int Journal::back_up(const std::string& path, const std::string& backup_dir) {
  std::string copy = backup_dir + "/" + std::to_string(++backups_);
  struct stat st;
  if (sys::link_stat(path, &st) != 0) return -1;
  bool regular = S_ISREG(st.st_mode);
  ::unlink(copy.c_str());  // a stale copy of an installation that was cleaned up by hand
  // A hard link keeps the old file without copying; across file systems (a
  // shortcut outside the target) the copy goes beside the file instead.
  if (regular && sys::hard_link(path, copy) != 0) {
    if (errno != EXDEV) return -1;
    copy = path + ".qg-setup-backup";
    if (note({"backup", path, copy}, true) != 0) return -1;
    return copy_file(path, copy);
  }
  if (!regular) {
    // A link or special file is moved aside; the record comes first.
    if (note({"backup", path, copy}, true) != 0) return -1;
    return sys::rename_replace(path, copy) == 0 ? 0 : -1;
  }
  if (note({"backup", path, copy}, true) != 0) {
    ::unlink(copy.c_str());
    return -1;
  }
  return 0;
}

bool read_journal(const std::string& path, std::vector<Fields>* records) {
  std::vector<std::string> lines;
  if (!read_lines(path, &lines)) return false;
  records->clear();
  for (const std::string& line : lines) {
    Fields f;
    // A torn last line (the process died while writing it) is ignored: its
    // change was never made.
    if (!split_fields(line, &f) || f.empty()) continue;
    records->push_back(f);
  }
  return true;
}

bool journal_committed(const std::vector<Fields>& records) {
  return !records.empty() && records.back()[0] == "commit";
}

int roll_back(const std::string& journal_path, Ui& ui) {
  std::vector<Fields> records;
  if (!read_journal(journal_path, &records)) {
    ui.error("cannot read the journal " + shown(journal_path));
    return 1;
  }
  int left = 0;
  std::vector<std::string> holders;
  if (journal_committed(records)) {
    // Committed but not cleaned up: only the backups remain to be dropped.
    for (const Fields& r : records)
      if (r[0] == "backup" && r.size() == 3) ::unlink(r[2].c_str());
  } else {
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      // The folders that hold the journal itself go once it is removed.
      const Fields& r = *it;
      if (r[0] == "dir" && r.size() == 2 && journal_path.rfind(r[1] + "/", 0) == 0)
        holders.push_back(r[1]);
      else
        left |= undo(r, ui);
    }
  }
  if (reg_store_failed()) {
    ui.error("the registry store could not be written while rolling back");
    left = 1;
  }
  if (::unlink(journal_path.c_str()) != 0 && errno != ENOENT) left = 1;
  for (const std::string& dir : holders) left |= undo({"dir", dir}, ui);
  return left;
}

int finish_journal(Journal& journal, Ui& ui) {
  if (journal.note({"commit"}, true) != 0) {
    ui.error("cannot write the journal " + shown(journal.path()));
    return 1;
  }
  journal.close();
  std::vector<Fields> records;
  int left = 0;
  if (read_journal(journal.path(), &records)) {
    for (const Fields& r : records) {
      if (r[0] == "backup" && r.size() == 3 && ::unlink(r[2].c_str()) != 0 && errno != ENOENT) {
        ui.warn("cannot remove the backup " + shown(r[2]));
        left = 1;
      }
    }
  }
  ::unlink(journal.path().c_str());
  return left;
}

}  // namespace setup
