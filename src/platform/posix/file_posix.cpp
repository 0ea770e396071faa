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

// One fstat tells both that the path is not a directory and its length.
FileHandle posix_open_read_length(const char* path, int64_t* length) {
  std::string p = native_path(path);
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  *length = static_cast<int64_t>(st.st_size);
  return handle_of(fd);
}

FileHandle posix_open_read(const char* path) {
  int64_t length = 0;
  return posix_open_read_length(path, &length);
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

int32_t posix_read_at(FileHandle h, uint64_t offset, void* buffer, uint32_t n) {
  if (h == kNoFile) return -1;
  for (;;) {
    ssize_t got = ::pread(fd_of(h), buffer, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    return got < 0 ? -1 : static_cast<int32_t>(got);
  }
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

int posix_identity(const char* path, FileIdentity* id) {
  std::string p = native_path(path);
  struct stat st;
  if (p.empty() || ::stat(p.c_str(), &st) != 0) return -1;
  *id = identity_of(st);
  return 0;
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

// Days from 1970-01-01 to year y, month m (1-12), day d of the proleptic
// Gregorian calendar; a day past the month's end runs on into the next
// month, as mktime counts it.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t year_of_era = y - era * 400;
  int64_t day_of_year = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool utc_offset_at(time_t when, long* offset) {
  struct tm local;
  if (!::localtime_r(&when, &local)) return false;
  *offset = local.tm_gmtoff;
  return true;
}

// The time of a local date and time, as mktime gives it with tm_isdst -1.
// mktime looks at the time zone file again on every call (several system
// calls per file); localtime_r loads it once.  Where the offset from UTC is
// the same for two days on either side the local time is unambiguous and
// the answer plain arithmetic; near a change of offset mktime decides.
time_t local_to_utc(struct tm t) {
  constexpr time_t kTwoDays = 2 * 86400;
  time_t as_utc =
      static_cast<time_t>(days_from_civil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) * 86400 +
                          t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec);
  long offset = 0, before = 0, after = 0;
  if (utc_offset_at(as_utc, &offset)) {
    time_t guess = as_utc - offset;
    if (utc_offset_at(guess, &offset) && utc_offset_at(guess - kTwoDays, &before) &&
        utc_offset_at(guess + kTwoDays, &after) && before == offset && after == offset)
      return as_utc - offset;
  }
  return ::mktime(&t);
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
  time_t when = local_to_utc(t);
  if (when == static_cast<time_t>(-1)) return -1;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // last-access time stays
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  return ::futimens(fd_of(h), times) == 0 ? 0 : -1;
}

// A file this process has just created: its mode is the one it was created
// with, so only read-only needs a change, and the extended attribute is
// written only for hidden or system (a new file has none to remove, and
// "archive" alone is what every new file is).
int posix_set_attributes_open(FileHandle h, uint32_t attributes) {
  if (h == kNoFile) return -1;
  int fd = fd_of(h);
  if (attributes & kAttrReadOnly) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || ::fchmod(fd, mode_for(st.st_mode, attributes)) != 0) return -1;
  }
  if (attributes & (kAttrHidden | kAttrSystem)) {
    store_attributes(
        attributes, [&](const char* text, size_t n) { ::fsetxattr(fd, kDosAttrib, text, n, 0); },
        [] {});
  }
  return 0;
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
    posix_read_at,
    posix_open_read_length,
    posix_identity,
    posix_directory_identity,
    posix_create_new_at,
    posix_set_attributes_open,
};

}  // namespace

FileHandle handle_of_fd(int fd) {
  return handle_of(fd);
}

FileIdentity identity_of(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.number = static_cast<uint64_t>(st.st_ino);
  id.directory = S_ISDIR(st.st_mode) ? 1 : 0;
  id.known = 1;
  return id;
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
