// Walking the packer's inputs: what the setup data records of each item.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <set>

#include "pack_setup.h"

namespace qgsetup {

namespace {

#ifdef _WIN32
// 64-bit sizes and times.  Windows has no symbolic links for the walk:
// whatever a junction or link leads to is packed as what it is.
using Stat = struct _stat64;
int stat_of(std::string path, Stat* st) {
  // The run-time library finds no "in\" or "in/" (an input as a shell
  // completes it), only "in"; a drive's root keeps its separator.
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') &&
         path[path.size() - 2] != ':')
    path.pop_back();
  return ::_stat64(path.c_str(), st);
}
int lstat_of(const std::string& path, Stat* st) {
  return stat_of(path, st);
}
#else
using Stat = struct stat;
int stat_of(const std::string& path, Stat* st) {
  return ::stat(path.c_str(), st);
}
int lstat_of(const std::string& path, Stat* st) {
  return ::lstat(path.c_str(), st);
}
#endif

// What identifies a folder being walked, to find link cycles: device and
// inode; on Windows, which has no inode numbers, its path.
std::string folder_id(const std::string& disk, const Stat& st) {
#ifdef _WIN32
  (void)st;
  return disk;
#else
  (void)disk;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
#endif
}

// The mode recorded for an item.  Windows keeps no POSIX modes: folders and
// programs (what the system calls executable) get 0755, other files 0644,
// without the write bits when read-only; the group and others never get
// the owner's write bit that the system reports for them.
uint32_t mode_of(const Stat& st) {
#ifdef _WIN32
  bool dir = (st.st_mode & _S_IFDIR) != 0;
  uint32_t mode = dir || (st.st_mode & _S_IEXEC) ? 0755 : 0644;
  return st.st_mode & _S_IWRITE ? mode : mode & ~0222u;
#else
  return static_cast<uint32_t>(st.st_mode) & 07777;
#endif
}

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

// SOURCE_DATE_EPOCH, when set to a number: no recorded time is later.
int64_t time_limit() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return INT64_MAX;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  return *end == 0 && v >= 0 ? v : INT64_MAX;
}

struct Walker {
  bool dereference = false;
  bool any_link = false;  // record every link as a link (counting only)
  int64_t latest = INT64_MAX;
  std::vector<ScannedItem>* out = nullptr;
  std::vector<std::string>* warnings = nullptr;
  std::set<std::string> seen;          // paths already recorded
  std::set<std::string> open_folders;  // folders being walked (folder_id: link cycles)

  int folder(const std::string& disk, const std::string& rel, std::string* error);
  int item(const std::string& disk, const std::string& rel, std::string* error);
  int record(const std::string& disk, const std::string& rel, const Stat& st, std::string* error);
};

// Sorted names of a folder (bytes order), without "." and "..".
int list_folder(const std::string& disk, std::vector<std::string>* names) {
  DIR* d = ::opendir(disk.c_str());
  if (!d) return 1;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names->push_back(n);
  }
  ::closedir(d);
  std::sort(names->begin(), names->end());
  return 0;
}

int Walker::folder(const std::string& disk, const std::string& rel, std::string* error) {
  std::vector<std::string> names;
  if (list_folder(disk, &names)) return fail(error, "cannot read the folder " + disk);
  for (const std::string& n : names) {
    std::string path = rel.empty() ? n : rel + "/" + n;
    if (n.find('\\') != std::string::npos)
      return fail(error, "the name " + path +
                             " has a backslash, which installers use as the folder separator");
    if (item(disk + "/" + n, path, error)) return 1;
  }
  return 0;
}

int Walker::item(const std::string& disk, const std::string& rel, std::string* error) {
  Stat st;
  if (lstat_of(disk, &st) != 0) return fail(error, "cannot read " + disk);
#ifdef _WIN32
  return record(disk, rel, st, error);
#else
  if (!S_ISLNK(st.st_mode)) return record(disk, rel, st, error);
  std::vector<char> buf(static_cast<size_t>(kMaxPathBytes) + 1);
  ssize_t n = ::readlink(disk.c_str(), buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size())
    return fail(error, "cannot read the link " + disk);
  std::string target(buf.data(), static_cast<size_t>(n));
  std::string why;
  if (check_link_target(rel, target, &why) == 0 || any_link) {
    if (!seen.insert(rel).second) return fail(error, rel + " is in more than one input");
    ScannedItem s;
    s.item.kind = ItemKind::symlink;
    s.item.mode = 0777;
    s.item.mtime = std::min<int64_t>(st.st_mtime, latest);
    s.item.path = rel;
    s.item.link_target = target;
    out->push_back(std::move(s));
    return 0;
  }
  if (!dereference)
    return fail(error, why + " (use --dereference to pack what it points to instead)");
  if (stat_of(disk, &st) != 0)
    return fail(error, "the link " + rel + " -> " + target + " points to nothing");
  return record(disk, rel, st, error);
#endif
}

int Walker::record(const std::string& disk, const std::string& rel, const Stat& st,
                   std::string* error) {
  bool dir = S_ISDIR(st.st_mode);
  if (!dir && !S_ISREG(st.st_mode)) {
    warnings->push_back("skipped " + rel + ": not a file, folder or link");
    return 0;
  }
  if (!seen.insert(rel).second) {
    if (dir) return folder(disk, rel, error);  // folders of several inputs merge
    return fail(error, rel + " is in more than one input");
  }
  ScannedItem s;
  s.item.kind = dir ? ItemKind::directory : ItemKind::file;
  s.item.mode = mode_of(st);
  if (s.item.mode & 06000) {
    warnings->push_back("dropped the set-user-ID/set-group-ID bit of " + rel);
    s.item.mode &= 01777;
  }
  s.item.mtime = std::min<int64_t>(st.st_mtime, latest);
  s.item.path = rel;
  s.source = disk;
  out->push_back(std::move(s));
  if (!dir) return 0;
  std::string id = folder_id(disk, st);
  if (!open_folders.insert(id).second) return fail(error, "links make a loop at " + rel);
  int r = folder(disk, rel, error);
  open_folders.erase(id);
  return r;
}

bool is_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

std::string base_name(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && is_separator(p.back())) p.pop_back();
  size_t slash = p.find_last_of(is_separator('\\') ? "/\\" : "/");
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

}  // namespace

int scan_payload(const std::vector<std::string>& inputs, bool dereference,
                 std::vector<ScannedItem>* out, std::vector<std::string>* warnings,
                 std::string* error) {
  Walker w;
  w.dereference = dereference;
  w.latest = time_limit();
  w.out = out;
  w.warnings = warnings;
  for (const std::string& in : inputs) {
    Stat st;
    if (stat_of(in, &st) != 0) return fail(error, "no such file or folder: " + in);
    int r;
    if (S_ISDIR(st.st_mode)) {
      std::string id = folder_id(in, st);
      w.open_folders.insert(id);
      r = w.folder(in, "", error);
      w.open_folders.erase(id);
    } else {
      std::string name = base_name(in);
      if (name.find('\\') != std::string::npos)
        return fail(error, "the name " + name +
                               " has a backslash, which installers use as the folder separator");
      r = w.record(in, name, st, error);
    }
    if (r) return 1;
  }
  return 0;
}

std::vector<std::string> plain_pack_losses(const std::vector<std::string>& inputs) {
  std::vector<std::string> ignored, losses;
  std::string error;
  // Links are counted, not followed, whatever they point to.
  Walker w;
  w.any_link = true;
  w.warnings = &ignored;
  unsigned exec = 0, links = 0, empty = 0, seconds = 0;
  for (const std::string& in : inputs) {
    Stat st;
    if (stat_of(in, &st) != 0) continue;
    std::vector<ScannedItem> some;
    w.out = &some;
    w.seen.clear();
    if (S_ISDIR(st.st_mode))
      w.folder(in, "", &error);
    else
      w.record(in, base_name(in), st, &error);
    for (size_t i = 0; i < some.size(); ++i) {
      const PayloadItem& it = some[i].item;
      if (it.kind == ItemKind::file && (it.mode & 0111)) ++exec;
      if (it.kind == ItemKind::symlink) ++links;
      bool has_child = i + 1 < some.size() && some[i + 1].item.path.rfind(it.path + "/", 0) == 0;
      if (it.kind == ItemKind::directory && !has_child) ++empty;
      // The archive's time keeps seconds in steps of 4, in local time.
      std::time_t t = static_cast<std::time_t>(it.mtime);
      std::tm local{};
#ifdef _WIN32
      bool known = localtime_s(&local, &t) == 0;
#else
      bool known = localtime_r(&t, &local) != nullptr;
#endif
      if (it.kind == ItemKind::file && known && local.tm_sec % 4) ++seconds;
    }
  }
  auto count = [](unsigned n, const char* what) { return std::to_string(n) + what; };
  if (exec) losses.push_back(count(exec, " executable file(s) lose their execute bits"));
  if (links)
    losses.push_back(count(
        links, " symbolic link(s) packed as the files they point to (links to folders left out)"));
  if (empty) losses.push_back(count(empty, " empty folder(s) not kept"));
  if (seconds)
    losses.push_back(count(seconds, " file time(s) lose their seconds (kept in steps of 4)"));
  if (!losses.empty()) losses.push_back("qg pack --setup keeps all of this");
  return losses;
}

}  // namespace qgsetup
