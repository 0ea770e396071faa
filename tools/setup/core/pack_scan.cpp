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
  std::set<std::string> seen;                      // paths already recorded
  std::set<std::pair<dev_t, ino_t>> open_folders;  // folders being walked (link cycles)

  int folder(const std::string& disk, const std::string& rel, std::string* error);
  int item(const std::string& disk, const std::string& rel, std::string* error);
  int record(const std::string& disk, const std::string& rel, const struct stat& st,
             std::string* error);
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
  struct stat st;
  if (::lstat(disk.c_str(), &st) != 0) return fail(error, "cannot read " + disk);
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
  if (::stat(disk.c_str(), &st) != 0)
    return fail(error, "the link " + rel + " -> " + target + " points to nothing");
  return record(disk, rel, st, error);
}

int Walker::record(const std::string& disk, const std::string& rel, const struct stat& st,
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
  s.item.mode = static_cast<uint32_t>(st.st_mode) & 07777;
  if (s.item.mode & 06000) {
    warnings->push_back("dropped the set-user-ID/set-group-ID bit of " + rel);
    s.item.mode &= 01777;
  }
  s.item.mtime = std::min<int64_t>(st.st_mtime, latest);
  s.item.path = rel;
  s.source = disk;
  out->push_back(std::move(s));
  if (!dir) return 0;
  auto id = std::make_pair(st.st_dev, st.st_ino);
  if (!open_folders.insert(id).second) return fail(error, "links make a loop at " + rel);
  int r = folder(disk, rel, error);
  open_folders.erase(id);
  return r;
}

std::string base_name(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
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
    struct stat st;
    if (::stat(in.c_str(), &st) != 0) return fail(error, "no such file or folder: " + in);
    int r;
    if (S_ISDIR(st.st_mode)) {
      w.open_folders.insert({st.st_dev, st.st_ino});
      r = w.folder(in, "", error);
      w.open_folders.erase({st.st_dev, st.st_ino});
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
    struct stat st;
    if (::stat(in.c_str(), &st) != 0) continue;
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
      if (it.kind == ItemKind::file && localtime_r(&t, &local) && local.tm_sec % 4) ++seconds;
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
