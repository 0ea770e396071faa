// POSIX file operations.  Handles are file descriptors plus one, so that 0
// stays "no file" even when descriptor 0 is in use.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/posix/dir_posix.h"
#include "platform/posix/path_posix.h"

namespace rz::plat {

namespace {

constexpr const char* kDosAttrib = "user.DOSATTRIB";

int fd_of(FileHandle h) {
  return static_cast<int>(h - 1);
}
FileHandle handle_of(int fd) {
  return fd < 0 ? kNoFile : static_cast<FileHandle>(fd) + 1;
}

FileHandle posix_open_read(const char* path) {
  std::string p = native_path(path);
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  return handle_of(fd);
}

FileHandle posix_create_rw(const char* path) {
  std::string p = native_path(path);
  return handle_of(::open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

// O_EXCL with O_CREAT never follows a link at the last component; O_NOFOLLOW
// says so again for systems that read it alone.
FileHandle posix_create_new(const char* path) {
  std::string p = native_path(path);
  return handle_of(::open(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

int32_t posix_read(FileHandle h, void* buffer, uint32_t n) {
  if (h == kNoFile) return -1;
  for (;;) {
    ssize_t got = ::read(fd_of(h), buffer, n);
    if (got < 0 && errno == EINTR) continue;
    return got < 0 ? -1 : static_cast<int32_t>(got);
  }
}

int32_t posix_write(FileHandle h, const void* buffer, uint32_t n) {
  if (h == kNoFile) return -1;
  const char* p = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < n) {
    ssize_t put = ::write(fd_of(h), p + done, n - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return done ? static_cast<int32_t>(done) : -1;
    done += static_cast<uint32_t>(put);
  }
  return static_cast<int32_t>(done);
}

int64_t posix_seek(FileHandle h, int64_t offset, SeekFrom from) {
  if (h == kNoFile) return -1;
  int whence = from == SeekFrom::begin ? SEEK_SET : from == SeekFrom::current ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_of(h), static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t posix_length(FileHandle h) {
  struct stat st;
  if (h == kNoFile || ::fstat(fd_of(h), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int posix_close(FileHandle h) {
  if (h == kNoFile) return -1;
  return ::close(fd_of(h)) == 0 ? 0 : -1;
}

// Read-only and directory come from the mode bits.
uint32_t mode_attributes(mode_t mode) {
  uint32_t attrs = 0;
  if (S_ISDIR(mode)) attrs |= kAttrDirectory;
  if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attrs |= kAttrReadOnly;
  return attrs;
}

// Hidden, system and archive from the text of the extended attribute.
uint32_t stored_attributes(char* text, ssize_t n) {
  if (n <= 0) return 0;
  text[n] = 0;
  unsigned long stored = std::strtoul(text, nullptr, 0);
  return static_cast<uint32_t>(stored) & (kAttrHidden | kAttrSystem | kAttrArchive);
}

// Read-only clears every write permission (and a file that had none gets
// the owner's back when it stops being read-only).
mode_t mode_for(mode_t mode, uint32_t attributes) {
  mode &= 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    mode |= S_IWUSR;
  }
  return mode;
}

// Writes hidden, system and archive as the extended attribute's text, or
// removes the attribute when none is set.  A file system without extended
// attributes simply keeps none.
template <typename Set, typename Remove>
void store_attributes(uint32_t attributes, Set set, Remove remove) {
  uint32_t extra = attributes & (kAttrHidden | kAttrSystem | kAttrArchive);
  if (!extra) {
    remove();
    return;
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", extra);
  set(text, std::strlen(text));
}

int64_t posix_get_attributes(const char* path) {
  std::string p = native_path(path);
  struct stat st;
  if (p.empty() || ::stat(p.c_str(), &st) != 0) return -1;
  char text[32] = {};
  return mode_attributes(st.st_mode) |
         stored_attributes(text, ::getxattr(p.c_str(), kDosAttrib, text, sizeof text - 1));
}

// Hidden, system and archive go to an extended attribute where the file
// system can hold one.
int posix_set_attributes(const char* path, uint32_t attributes) {
  std::string p = native_path(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return -1;
  if (::chmod(p.c_str(), mode_for(st.st_mode, attributes)) != 0) return -1;
  store_attributes(
      attributes,
      [&](const char* text, size_t n) { ::setxattr(p.c_str(), kDosAttrib, text, n, 0); },
      [&] { ::removexattr(p.c_str(), kDosAttrib); });
  return 0;
}

int posix_remove(const char* path) {
  std::string p = native_path(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  // A read-only file cannot be deleted, as on Windows.
  if (!S_ISLNK(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return -1;
  return ::unlink(p.c_str()) == 0 ? 0 : -1;
}

int posix_make_directory(const char* path) {
  std::string p = native_path(path);
  return ::mkdir(p.c_str(), 0777) == 0 ? 0 : -1;
}

int posix_rename_replace(const char* from, const char* to) {
  std::string a = native_path(from), b = native_path(to);
  return ::rename(a.c_str(), b.c_str()) == 0 ? 0 : -1;
}

int posix_set_dos_time(FileHandle h, uint16_t dos_date, uint16_t dos_time) {
  if (h == kNoFile) return -1;
  struct tm t = {};
  t.tm_year = ((dos_date >> 9) & 0x7f) + 80;
  t.tm_mon = ((dos_date >> 5) & 0x0f) - 1;
  t.tm_mday = dos_date & 0x1f;
  t.tm_hour = (dos_time >> 11) & 0x1f;
  t.tm_min = (dos_time >> 5) & 0x3f;
  t.tm_sec = (dos_time & 0x1f) * 2;
  t.tm_isdst = -1;
  // Out-of-range fields make DosDateTimeToFileTime fail on Windows.
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_hour > 23 || t.tm_min > 59 ||
      t.tm_sec > 59)
    return -1;
  time_t when = ::mktime(&t);
  if (when == static_cast<time_t>(-1)) return -1;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // last-access time stays
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  return ::futimens(fd_of(h), times) == 0 ? 0 : -1;
}

void posix_fail_critical_errors() {}

const FileOps kPosixFileOps = {
    posix_open_read,
    posix_create_rw,
    posix_read,
    posix_write,
    posix_seek,
    posix_length,
    posix_close,
    posix_get_attributes,
    posix_set_attributes,
    posix_remove,
    posix_make_directory,
    posix_rename_replace,
    posix_set_dos_time,
    posix_fail_critical_errors,
    posix_open_directory,
    posix_open_beneath,
    posix_close_directory,
    posix_attributes_at,
    posix_set_attributes_at,
    posix_create_temp_at,
    posix_rename_at,
    posix_remove_at,
    posix_create_new,
};

}  // namespace

FileHandle handle_of_fd(int fd) {
  return handle_of(fd);
}

uint32_t attributes_of_fd(int fd, const struct stat& st) {
  char text[32] = {};
  uint32_t extra = S_ISREG(st.st_mode)
                       ? stored_attributes(text, ::fgetxattr(fd, kDosAttrib, text, sizeof text - 1))
                       : 0;
  return mode_attributes(st.st_mode) | extra;
}

int set_attributes_fd(int fd, uint32_t attributes) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  if (::fchmod(fd, mode_for(st.st_mode, attributes)) != 0) return -1;
  store_attributes(
      attributes, [&](const char* text, size_t n) { ::fsetxattr(fd, kDosAttrib, text, n, 0); },
      [&] { ::fremovexattr(fd, kDosAttrib); });
  return 0;
}

const FileOps& native_file_ops() {
  return kPosixFileOps;
}

}  // namespace rz::plat
