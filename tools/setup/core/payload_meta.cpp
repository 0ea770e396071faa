// Restoring modes, links, directories and times below a destination folder
// without ever following a link (see payload_meta.h).
#include "payload_meta.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qgsetup {

void entry_location(const std::string& path, std::string* directory, std::string* name) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    directory->clear();
    *name = path;
    return;
  }
  *directory = "\\" + path.substr(0, slash);
  for (char& c : *directory)
    if (c == '/') c = '\\';
  *name = path.substr(slash + 1);
}

const PayloadItem* item_for_entry(const SetupData& data, uint32_t entry) {
  for (const PayloadItem& item : data.items)
    if (item.kind == ItemKind::file && item.entry == entry) return &item;
  return nullptr;
}

#ifndef _WIN32

namespace {

int fail(std::string* error, const std::string& message, int err) {
  if (error) *error = message + (err ? std::string(": ") + std::strerror(err) : std::string());
  return 1;
}

// Opens the folder that holds `path` below root_fd, component by component,
// refusing links (O_NOFOLLOW) so that the walk cannot leave the root.
// Returns an fd (the caller closes it; root_fd itself is duplicated) and the
// last component in *leaf, or -1 with errno set.
int open_parent(int root_fd, const std::string& path, std::string* leaf) {
  int fd = ::fcntl(root_fd, F_DUPFD_CLOEXEC, 0);
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) {
      *leaf = path.substr(start);
      return fd;
    }
    if (fd < 0) return -1;
    std::string part = path.substr(start, slash - start);
    int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int saved = errno;
    ::close(fd);
    errno = saved;
    fd = next;
    start = slash + 1;
  }
}

timespec mtime_of(const PayloadItem& item) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(item.mtime);
  return t;
}

// Sets mode and time through an fd opened on the item itself, so that a link
// put in its place is refused (O_NOFOLLOW) rather than followed.
int set_through_fd(int parent, const std::string& leaf, const PayloadItem& item, uint32_t umask,
                   std::string* error) {
  bool dir = item.kind == ItemKind::directory;
  int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (dir ? O_DIRECTORY : 0);
  int fd = ::openat(parent, leaf.c_str(), flags);
  if (fd < 0) return fail(error, "cannot open " + item.path, errno);
  struct stat st;
  int r = 0;
  if (::fstat(fd, &st) != 0) {
    r = fail(error, "cannot read " + item.path, errno);
  } else if (dir ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    r = fail(error, item.path + " is not a " + (dir ? "folder" : "file"), 0);
  } else if (::fchmod(fd, static_cast<mode_t>(item.mode & ~umask & 07777)) != 0) {
    r = fail(error, "cannot set the mode of " + item.path, errno);
  } else {
    timespec times[2] = {{0, UTIME_OMIT}, mtime_of(item)};
    if (::futimens(fd, times) != 0) r = fail(error, "cannot set the time of " + item.path, errno);
  }
  ::close(fd);
  return r;
}

// Runs one item step; problems after the first go to hooks.warn.
int note(int r, const std::string& message, const MetadataHooks& hooks, int* first,
         std::string* error) {
  if (r == 0) return 0;
  if (*first == 0) {
    *first = r;
    if (error) *error = message;
  } else if (hooks.warn) {
    hooks.warn(message);
  }
  return r;
}

// True when something (of any kind, links included) is at the item's path.
bool item_exists(int root_fd, const PayloadItem& item) {
  std::string leaf;
  int parent = open_parent(root_fd, item.path, &leaf);
  if (parent < 0) return false;
  struct stat st;
  bool exists = ::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  ::close(parent);
  return exists;
}

// Creates a directory or link item, telling hooks.before_create first when
// it is not there yet.  Returns 0, 1 with *error, or the hook's result.
int create_item(int root_fd, const PayloadItem& item, const MetadataHooks& hooks, int* hook_result,
                std::string* error) {
  if (hooks.before_create && !item_exists(root_fd, item))
    if ((*hook_result = hooks.before_create(item)) != 0) return *hook_result;
  return item.kind == ItemKind::directory ? create_payload_directory(root_fd, item, error)
                                          : create_payload_link(root_fd, item, error);
}

}  // namespace

uint32_t current_umask() {
  mode_t m = ::umask(022);
  ::umask(m);
  return static_cast<uint32_t>(m);
}

int create_payload_directory(int root_fd, const PayloadItem& item, std::string* error) {
  std::string leaf;
  int parent = open_parent(root_fd, item.path, &leaf);
  if (parent < 0) return fail(error, "cannot open the folder of " + item.path, errno);
  int r = 0;
  struct stat st;
  if (::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISDIR(st.st_mode)) r = fail(error, item.path + " exists and is not a folder", 0);
  } else if (errno != ENOENT || ::mkdirat(parent, leaf.c_str(), 0700) != 0) {
    r = fail(error, "cannot create the folder " + item.path, errno);
  }
  ::close(parent);
  return r;
}

int create_payload_link(int root_fd, const PayloadItem& item, std::string* error) {
  if (check_link_target(item.path, item.link_target, error)) return 1;
  std::string leaf;
  int parent = open_parent(root_fd, item.path, &leaf);
  if (parent < 0) return fail(error, "cannot open the folder of " + item.path, errno);
  int r = 0;
  if (::symlinkat(item.link_target.c_str(), parent, leaf.c_str()) != 0) {
    int err = errno;
    char have[4097];
    ssize_t n = err == EEXIST ? ::readlinkat(parent, leaf.c_str(), have, sizeof have - 1) : -1;
    // A link already there with the same target (extracted before) is kept.
    if (n < 0 || std::string(have, static_cast<size_t>(n)) != item.link_target)
      r = fail(error, "cannot create the link " + item.path, err);
  }
  ::close(parent);
  return r;
}

int set_item_mode_and_time(int root_fd, const PayloadItem& item, uint32_t umask,
                           std::string* error) {
  std::string leaf;
  int parent = open_parent(root_fd, item.path, &leaf);
  if (parent < 0) return fail(error, "cannot open the folder of " + item.path, errno);
  int r;
  if (item.kind == ItemKind::symlink) {
    // A link has no mode of its own on Linux; only its time is set.
    timespec times[2] = {{0, UTIME_OMIT}, mtime_of(item)};
    r = ::utimensat(parent, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0
            ? 0
            : fail(error, "cannot set the time of " + item.path, errno);
  } else {
    r = set_through_fd(parent, leaf, item, umask, error);
  }
  ::close(parent);
  return r;
}

int create_payload_directories(int root_fd, const SetupData& data, const MetadataHooks& hooks,
                               std::string* error) {
  for (const PayloadItem& item : data.items) {
    int hook = 0;
    if (item.kind != ItemKind::directory) continue;
    if (int r = create_item(root_fd, item, hooks, &hook, error)) return r;
  }
  return 0;
}

int apply_payload_metadata(int root_fd, const SetupData& data, uint32_t umask,
                           const MetadataHooks& hooks, std::string* error) {
  int first = 0;
  std::string message;
  // Folders and links first, so that an empty folder exists even when
  // nothing was extracted into its parent; folders stay writable (0700)
  // until their own modes are set at the end.
  for (const PayloadItem& item : data.items) {
    if (item.kind == ItemKind::file) continue;
    int hook = 0;
    int r = create_item(root_fd, item, hooks, &hook, &message);
    if (hook) return hook;
    note(r, message, hooks, &first, error);
  }
  for (const PayloadItem& item : data.items)
    if (item.kind != ItemKind::directory)
      note(set_item_mode_and_time(root_fd, item, umask, &message), message, hooks, &first, error);
  // Deepest first: setting a folder's time after its contents keeps it.
  for (auto it = data.items.rbegin(); it != data.items.rend(); ++it)
    if (it->kind == ItemKind::directory)
      note(set_item_mode_and_time(root_fd, *it, umask, &message), message, hooks, &first, error);
  return first ? 1 : 0;
}

#else  // _WIN32

namespace {

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

int fail(std::string* error, const std::string& message) {
  if (error) *error = message + " (Windows error " + std::to_string(GetLastError()) + ")";
  return 1;
}

// Attributes of the item's path, INVALID_FILE_ATTRIBUTES when nothing is
// there.  *through_link is set when a folder on the way is a reparse point
// (a junction or link that could lead out of the root).
DWORD item_attributes(const std::string& root, const std::string& path, bool* through_link) {
  *through_link = false;
  std::string at = root;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    at += "/" + path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    DWORD a = GetFileAttributesW(wide(at).c_str());
    if (slash == std::string::npos || a == INVALID_FILE_ATTRIBUTES) return a;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
      *through_link = true;
      return a;
    }
    start = slash + 1;
  }
}

// Seconds since 1970 as a FILETIME (100 ns steps since 1601).
FILETIME file_time(int64_t seconds) {
  uint64_t t = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ull;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

int set_time(const std::string& root, const PayloadItem& item, std::string* error) {
  bool through_link = false;
  DWORD a = item_attributes(root, item.path, &through_link);
  if (a == INVALID_FILE_ATTRIBUTES || through_link || (a & FILE_ATTRIBUTE_REPARSE_POINT))
    return fail(error, "cannot set the time of " + item.path);
  HANDLE h =
      CreateFileW(wide(root + "/" + item.path).c_str(), FILE_WRITE_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail(error, "cannot set the time of " + item.path);
  FILETIME ft = file_time(item.mtime);
  BOOL ok = SetFileTime(h, nullptr, &ft, &ft);
  CloseHandle(h);
  return ok ? 0 : fail(error, "cannot set the time of " + item.path);
}

}  // namespace

uint32_t current_umask() {
  return 0;
}

int create_payload_directory(const std::string& root, const PayloadItem& item,
                             const MetadataHooks& hooks, std::string* error) {
  bool through_link = false;
  DWORD a = item_attributes(root, item.path, &through_link);
  if (through_link) return fail(error, "a folder on the way to " + item.path + " is a link");
  if (a != INVALID_FILE_ATTRIBUTES) {
    if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT))
      return fail(error, item.path + " exists and is not a folder");
    return 0;
  }
  if (hooks.before_create)
    if (int r = hooks.before_create(item)) return r;
  if (!CreateDirectoryW(wide(root + "/" + item.path).c_str(), nullptr))
    return fail(error, "cannot create the folder " + item.path);
  return 0;
}

int create_payload_directories(const std::string& root, const SetupData& data,
                               const MetadataHooks& hooks, std::string* error) {
  for (const PayloadItem& item : data.items) {
    if (item.kind != ItemKind::directory) continue;
    if (int r = create_payload_directory(root, item, hooks, error)) return r;
  }
  return 0;
}

int apply_payload_metadata(const std::string& root, const SetupData& data, uint32_t,
                           const MetadataHooks& hooks, std::string* error) {
  // Windows has no permission bits to restore, and links are the caller's
  // (it installs them as copies); folders come first, their times last.
  int first = 0;
  std::string message;
  auto note = [&](int r) {
    if (r == 0) return;
    if (first == 0) {
      first = r;
      if (error) *error = message;
    } else if (hooks.warn) {
      hooks.warn(message);
    }
  };
  for (const PayloadItem& item : data.items)
    if (item.kind == ItemKind::directory)
      note(create_payload_directory(root, item, hooks, &message));
  for (const PayloadItem& item : data.items)
    if (item.kind == ItemKind::file) note(set_time(root, item, &message));
  for (auto it = data.items.rbegin(); it != data.items.rend(); ++it)
    if (it->kind == ItemKind::directory) note(set_time(root, *it, &message));
  return first ? 1 : 0;
}

#endif  // _WIN32

}  // namespace qgsetup
