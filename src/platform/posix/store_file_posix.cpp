#include "platform/posix/store_file_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cstdlib>
#include <vector>

namespace rz::plat {

namespace {

int read_fd(int fd, std::string& out) {
  out.clear();
  char chunk[8192];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) return 0;
    out.append(chunk, static_cast<size_t>(got));
  }
}

int write_fd(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return -1;
    done += static_cast<size_t>(put);
  }
  return 0;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes data to a fresh temporary file next to path with the given mode,
// flushes it to disk and renames it over path; then flushes the folder so
// that the rename itself survives a power cut.
int replace_with(const std::string& path, const std::string& data, mode_t mode) {
  std::string folder = folder_of(path);
  size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmpl = folder + "/." + base + ".tmpXXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back(0);
  int fd = ::mkstemp(name.data());
  if (fd < 0) return -1;
  bool ok = write_fd(fd, data) == 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(name.data(), path.c_str()) != 0) {
    ::unlink(name.data());
    return -1;
  }
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

mode_t default_mode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Opens path and takes an exclusive lock on it, creating it when missing.
// The lock belongs to the inode, and a writer replaces the inode, so after
// the lock is granted the path must still name the locked inode; otherwise
// another writer got there first and we try again on the new file.
int open_locked(const std::string& path, int& fd_out, bool& created) {
  for (;;) {
    created = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) return -1;
    int rc;
    do rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    struct stat held, named;
    if (rc != 0 || ::fstat(fd, &held) != 0) {
      ::close(fd);
      return -1;
    }
    if (::stat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
        named.st_dev == held.st_dev) {
      fd_out = fd;
      return 0;
    }
    ::close(fd);
  }
}

FileStamp stamp_of(const struct stat& st) {
  FileStamp s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<int64_t>(st.st_size);
  s.modified_ns = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  s.changed_ns = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

}  // namespace

int store_stamp(const std::string& path, FileStamp& stamp) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? 1 : -1;
  stamp = stamp_of(st);
  return 0;
}

int store_read_stamped(const std::string& path, std::string& out, FileStamp& stamp) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? 1 : -1;
  struct stat st;
  int rc = (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) ? read_fd(fd, out) : -1;
  if (rc == 0) stamp = stamp_of(st);
  ::close(fd);
  return rc;
}

int64_t store_clock_ns() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

int store_read(const std::string& path, std::string& out) {
  FileStamp unused;
  return store_read_stamped(path, out, unused);
}

int store_update(const std::string& path, const std::function<StoreEdit(std::string&)>& edit) {
  int fd = -1;
  bool created = false;
  if (open_locked(path, fd, created) != 0) return -1;
  std::string content;
  struct stat st;
  int rc = (::fstat(fd, &st) == 0 && read_fd(fd, content) == 0) ? 0 : -1;
  StoreEdit what = StoreEdit::abort;
  if (rc == 0) {
    what = edit(content);
    if (what == StoreEdit::replace) {
      mode_t mode = created ? default_mode() : (st.st_mode & 07777);
      rc = replace_with(path, content, mode);
    }
  }
  // Nothing was written to a file this call made: take it away again, still
  // under the lock, so that a refused change leaves no empty file behind.
  if (created && (rc != 0 || what != StoreEdit::replace)) ::unlink(path.c_str());
  ::close(fd);
  if (rc != 0) return -1;
  return what == StoreEdit::abort ? 1 : 0;
}

int store_replace(const std::string& path, const std::string& data) {
  struct stat st;
  mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : default_mode();
  return replace_with(path, data, mode);
}

int store_make_parents(const std::string& path) {
  std::string folder = folder_of(path);
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '/') continue;
    std::string part = folder.substr(0, i);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return -1;
  }
  return 0;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace rz::plat
