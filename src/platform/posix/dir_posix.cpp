// Directories by descriptor: extraction opens every level below the host's
// folder with openat(O_NOFOLLOW) from the level above, so that a link put
// into the tree (before or during the extraction) cannot send a file out of
// it.  A link met on the way is read and walked by hand, component by
// component from the level that holds it, and accepted only while it stays
// below the root.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "platform/posix/dir_posix.h"
#include "platform/posix/path_posix.h"

namespace rz::plat {

namespace {

// Links followed in one walk, as the kernel's own limit for one lookup.
constexpr int kMaxLinks = 40;

struct PosixDir {
  int fd = -1;
  // The root's path as given and as resolved: an absolute link target is
  // inside the root when it begins with either.
  std::string given, real;
};

PosixDir* dir_of(DirHandle h) {
  return reinterpret_cast<PosixDir*>(h);
}

DirHandle handle_of(PosixDir* d) {
  return reinterpret_cast<DirHandle>(d);
}

DirHandle wrap(int fd) {
  if (fd < 0) return kNoDir;
  PosixDir* d = new (std::nothrow) PosixDir;
  if (!d) {
    ::close(fd);
    return kNoDir;
  }
  d->fd = fd;
  return handle_of(d);
}

void split_into(const std::string& text, std::deque<std::string>* front_of) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("/\\", start);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  front_of->insert(front_of->begin(), parts.begin(), parts.end());
}

// The part of an absolute link target below the root, or false when the
// target lies elsewhere.
bool below_root(const PosixDir& root, const std::string& target, std::string* rest) {
  for (const std::string* base : {&root.real, &root.given}) {
    std::string b = *base;
    while (b.size() > 1 && b.back() == '/') b.pop_back();
    if (b.empty() || b[0] != '/') continue;
    if (b == "/") {
      *rest = target;
      return true;
    }
    if (target.compare(0, b.size(), b) == 0 &&
        (target.size() == b.size() || target[b.size()] == '/')) {
      *rest = target.substr(b.size());
      return true;
    }
  }
  return false;
}

// The descriptors from the root down to the level reached; the root's own
// descriptor is a duplicate, so every one of them is closed here.
class Walk {
 public:
  explicit Walk(const PosixDir& root) : root_(root) {}
  ~Walk() {
    for (int fd : levels_) ::close(fd);
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  int run(const std::string& relative, bool create);
  int take_top() {
    int fd = levels_.back();
    levels_.pop_back();
    return fd;
  }

 private:
  int step(const std::string& name, bool create);
  int follow_link(const std::string& name);
  void back_to_root() {
    while (levels_.size() > 1) {
      ::close(levels_.back());
      levels_.pop_back();
    }
  }

  const PosixDir& root_;
  std::vector<int> levels_;
  std::deque<std::string> todo_;
  int links_ = 0;
  bool made_ = false;  // a level of this walk was made
};

int Walk::run(const std::string& relative, bool create) {
  int fd = ::fcntl(root_.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return -1;
  levels_.push_back(fd);
  split_into(relative, &todo_);
  while (!todo_.empty()) {
    std::string name = todo_.front();
    todo_.pop_front();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (levels_.size() == 1) return kDirEscapes;
      ::close(take_top());
      continue;
    }
    if (int r = step(name, create)) return r;
  }
  return 0;
}

// Enters `name` below the current level: a directory is opened, a missing
// one made (when asked), a link read and queued.  Once one level had to be
// made, the levels below it are new too: they are made first, and the open
// that follows tells whether that worked (or found one already there).
int Walk::step(const std::string& name, bool create) {
  if (create && made_) ::mkdirat(levels_.back(), name.c_str(), 0777);
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd =
        ::openat(levels_.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      levels_.push_back(fd);
      return 0;
    }
    if (errno == ENOENT && create) {
      // Made by another process meanwhile counts as made.
      if (::mkdirat(levels_.back(), name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
      made_ = true;
      continue;
    }
    if (errno == ELOOP || errno == ENOTDIR) return follow_link(name);
    return -1;
  }
  return -1;
}

// Queues the target of the link `name` in place of the link.  A relative
// target continues from the level that holds the link; an absolute one from
// the root, when it names a place below the root.
int Walk::follow_link(const std::string& name) {
  struct stat st;
  if (::fstatat(levels_.back(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISLNK(st.st_mode))
    return -1;  // a file in the way
  if (++links_ > kMaxLinks) return -1;
  char target[PATH_MAX];
  ssize_t n = ::readlinkat(levels_.back(), name.c_str(), target, sizeof target - 1);
  if (n <= 0) return -1;
  std::string text(target, static_cast<size_t>(n));
  if (text[0] == '/') {
    std::string rest;
    if (!below_root(root_, text, &rest)) return kDirEscapes;
    back_to_root();
    text = rest;
  }
  split_into(text, &todo_);
  return 0;
}

}  // namespace

DirHandle posix_open_directory(const char* path) {
  std::string p = native_path(path);
  if (p.empty()) return kNoDir;
  DirHandle h = wrap(::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (h == kNoDir) return kNoDir;
  try {
    dir_of(h)->given = p;
    char real[PATH_MAX];
    if (::realpath(p.c_str(), real)) dir_of(h)->real = real;
  } catch (...) {
    posix_close_directory(h);
    return kNoDir;
  }
  return h;
}

int posix_open_beneath(DirHandle root, const char* relative, int create, DirHandle* out) {
  *out = kNoDir;
  if (root == kNoDir) return -1;
  try {
    Walk walk(*dir_of(root));
    int r = walk.run(relative ? relative : "", create != 0);
    if (r != 0) return r;
    *out = wrap(walk.take_top());
    return *out == kNoDir ? -1 : 0;
  } catch (...) {
    return -1;  // out of memory for a component
  }
}

int posix_close_directory(DirHandle dir) {
  if (dir == kNoDir) return -1;
  int r = ::close(dir_of(dir)->fd);
  delete dir_of(dir);
  return r == 0 ? 0 : -1;
}

// The mode answers both questions; the extended attribute is not read.
int64_t posix_attributes_at(DirHandle dir, const char* name) {
  struct stat st;
  if (dir == kNoDir || ::fstatat(dir_of(dir)->fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (S_ISLNK(st.st_mode)) return 0;
  return attributes_of_fd(-1, st) & (kAttrReadOnly | kAttrDirectory);
}

int posix_set_attributes_at(DirHandle dir, const char* name, uint32_t attributes) {
  if (dir == kNoDir) return -1;
  int fd = ::openat(dir_of(dir)->fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int r = (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ? set_attributes_fd(fd, attributes) : -1;
  ::close(fd);
  return r;
}

FileHandle posix_create_temp_at(DirHandle dir, const char* prefix, char* name, uint32_t size) {
  if (dir == kNoDir || size == 0) return kNoFile;
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned char random[8];
    if (::getentropy(random, sizeof random) != 0) return kNoFile;
    char digits[2 * sizeof random + 1];
    for (size_t i = 0; i < sizeof random; ++i) std::snprintf(digits + 2 * i, 3, "%02x", random[i]);
    int n = std::snprintf(name, size, "%s%s.tmp", prefix, digits);
    if (n < 0 || static_cast<uint32_t>(n) >= size) return kNoFile;
    int fd =
        ::openat(dir_of(dir)->fd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return handle_of_fd(fd);
    if (errno != EEXIST) break;
  }
  name[0] = 0;
  return kNoFile;
}

int posix_create_new_at(DirHandle dir, const char* name, FileHandle* out) {
  *out = kNoFile;
  if (dir == kNoDir) return -1;
  int fd =
      ::openat(dir_of(dir)->fd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? 1 : -1;
  *out = handle_of_fd(fd);
  return 0;
}

int posix_directory_identity(DirHandle dir, FileIdentity* id) {
  struct stat st;
  if (dir == kNoDir || ::fstat(dir_of(dir)->fd, &st) != 0) return -1;
  *id = identity_of(st);
  return 0;
}

int posix_rename_at(DirHandle dir, const char* from, const char* to) {
  if (dir == kNoDir) return -1;
  int fd = dir_of(dir)->fd;
  return ::renameat(fd, from, fd, to) == 0 ? 0 : -1;
}

int posix_remove_at(DirHandle dir, const char* name) {
  if (dir == kNoDir) return -1;
  return ::unlinkat(dir_of(dir)->fd, name, 0) == 0 ? 0 : -1;
}

}  // namespace rz::plat
