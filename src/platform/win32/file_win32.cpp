// Windows file operations over KERNEL32.  Handles are the file HANDLEs;
// INVALID_HANDLE_VALUE never leaves this file (it becomes kNoFile).
#define WIN32_LEAN_AND_MEAN
#define _CRT_RAND_S
#include <stdlib.h>
#include <windows.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "platform/file.h"

namespace rz::plat {

namespace {

HANDLE handle_of(FileHandle f) {
  return reinterpret_cast<HANDLE>(f);
}

FileHandle file_of(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

// Other readers and writers may keep the file open, as with the run-time
// library's open.  A directory fails to open without backup semantics.
FileHandle win_open_read(const char* path) {
  if (!path || !*path) return kNoFile;
  return file_of(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle win_create_rw(const char* path) {
  if (!path || !*path) return kNoFile;
  return file_of(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// CREATE_NEW fails on any existing name, a reparse point included.
FileHandle win_create_new(const char* path) {
  if (!path || !*path) return kNoFile;
  return file_of(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int32_t win_read(FileHandle f, void* buffer, uint32_t n) {
  if (f == kNoFile) return -1;
  // The count is returned as a signed 32-bit number.
  if (n > 0x7fffffffu) n = 0x7fffffffu;
  DWORD got = 0;
  if (!::ReadFile(handle_of(f), buffer, n, &got, nullptr)) return -1;
  return static_cast<int32_t>(got);
}

// WriteFile on a disk file writes everything or fails; a short count
// (a full disk) is returned as it stands, and 0 bytes as a failure.
int32_t win_write(FileHandle f, const void* buffer, uint32_t n) {
  if (f == kNoFile) return -1;
  if (n > 0x7fffffffu) n = 0x7fffffffu;
  const char* p = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < n) {
    DWORD put = 0;
    if (!::WriteFile(handle_of(f), p + done, n - done, &put, nullptr) || put == 0)
      return done ? static_cast<int32_t>(done) : -1;
    done += put;
  }
  return static_cast<int32_t>(done);
}

int64_t win_seek(FileHandle f, int64_t offset, SeekFrom from) {
  if (f == kNoFile) return -1;
  DWORD method = from == SeekFrom::begin     ? FILE_BEGIN
                 : from == SeekFrom::current ? FILE_CURRENT
                                             : FILE_END;
  LARGE_INTEGER move, now;
  move.QuadPart = offset;
  // SetFilePointerEx refuses a negative result and keeps the position.
  if (!::SetFilePointerEx(handle_of(f), move, &now, method)) return -1;
  return now.QuadPart;
}

int64_t win_length(FileHandle f) {
  LARGE_INTEGER size;
  if (f == kNoFile || !::GetFileSizeEx(handle_of(f), &size)) return -1;
  return size.QuadPart;
}

int win_close(FileHandle f) {
  if (f == kNoFile) return -1;
  return ::CloseHandle(handle_of(f)) ? 0 : -1;
}

constexpr uint32_t kKnownAttributes =
    kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;

int64_t win_get_attributes(const char* path) {
  if (!path || !*path) return -1;
  DWORD a = ::GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES) return -1;
  return static_cast<int64_t>(a & kKnownAttributes);
}

// The directory bit is a fact about the path, not something to set; an
// empty set is FILE_ATTRIBUTE_NORMAL, which SetFileAttributesA wants alone.
int win_set_attributes(const char* path, uint32_t attributes) {
  if (!path || !*path) return -1;
  DWORD a = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  if (a == 0) a = FILE_ATTRIBUTE_NORMAL;
  return ::SetFileAttributesA(path, a) ? 0 : -1;
}

int win_remove(const char* path) {
  if (!path || !*path) return -1;
  return ::DeleteFileA(path) ? 0 : -1;
}

int win_make_directory(const char* path) {
  if (!path || !*path) return -1;
  return ::CreateDirectoryA(path, nullptr) ? 0 : -1;
}

int win_rename_replace(const char* from, const char* to) {
  if (!from || !to || !*from || !*to) return -1;
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) ? 0 : -1;
}

// The entry's date and time are local time; the file system keeps UTC.
// DosDateTimeToFileTime refuses out-of-range fields.
int win_set_dos_time(FileHandle f, uint16_t dos_date, uint16_t dos_time) {
  if (f == kNoFile) return -1;
  FILETIME local, utc;
  if (!::DosDateTimeToFileTime(dos_date, dos_time, &local)) return -1;
  if (!::LocalFileTimeToFileTime(&local, &utc)) return -1;
  return ::SetFileTime(handle_of(f), nullptr, nullptr, &utc) ? 0 : -1;
}

// A missing disk is reported to the caller instead of a system box; the
// mode is left in place for the rest of the process.
void win_fail_critical_errors() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS);
}

// Directories are held by path.  A level below the root that is a
// reparse point (a link or junction) is accepted only when its final path
// lies below the root's final path.
struct WinDir {
  std::string path;   // as the host named it, then the levels walked
  std::string final;  // the root's resolved path, for the reparse check
};

WinDir* dir_of(DirHandle h) {
  return reinterpret_cast<WinDir*>(h);
}

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

std::string joined(const std::string& dir, const char* name) {
  if (!dir.empty() && !is_separator(dir.back())) return dir + "\\" + name;
  return dir + name;
}

// The resolved path of an existing file or directory, or "".
std::string final_path(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  char buffer[MAX_PATH * 4];
  DWORD n = ::GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  ::CloseHandle(h);
  return (n == 0 || n >= sizeof buffer) ? "" : std::string(buffer, n);
}

bool inside(const std::string& root, const std::string& path) {
  if (root.empty() || path.size() < root.size()) return false;
  if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, root.c_str(),
                       static_cast<int>(root.size()), path.c_str(),
                       static_cast<int>(root.size())) != CSTR_EQUAL)
    return false;
  return path.size() == root.size() || is_separator(path[root.size()]) || is_separator(root.back());
}

DirHandle win_open_directory(const char* path) {
  if (!path || !*path) return kNoDir;
  DWORD a = ::GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return kNoDir;
  WinDir* d = new (std::nothrow) WinDir;
  if (!d) return kNoDir;
  try {
    d->path = path;
    d->final = final_path(d->path);
  } catch (...) {
    delete d;
    return kNoDir;
  }
  return reinterpret_cast<DirHandle>(d);
}

// One level below `at`: made when missing and asked, and checked.
int win_enter(const WinDir& root, std::string* at, const std::string& name, bool create) {
  std::string next = joined(*at, name.c_str());
  DWORD a = ::GetFileAttributesA(next.c_str());
  if (a == INVALID_FILE_ATTRIBUTES && create && !::CreateDirectoryA(next.c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS)
    return -1;
  a = ::GetFileAttributesA(next.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return -1;
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) && !inside(root.final, final_path(next)))
    return kDirEscapes;
  *at = next;
  return 0;
}

int win_open_beneath(DirHandle root, const char* relative, int create, DirHandle* out) {
  *out = kNoDir;
  if (root == kNoDir) return -1;
  try {
    const WinDir& r = *dir_of(root);
    std::vector<std::string> levels{r.path};
    std::string text = relative ? relative : "";
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = start;
      while (end < text.size() && !is_separator(text[end])) ++end;
      std::string name = text.substr(start, end - start);
      start = end + 1;
      if (name.empty() || name == ".") continue;
      if (name == "..") {
        if (levels.size() == 1) return kDirEscapes;
        levels.pop_back();
        continue;
      }
      std::string at = levels.back();
      if (int e = win_enter(r, &at, name, create != 0)) return e;
      levels.push_back(at);
    }
    WinDir* d = new WinDir;
    d->path = levels.back();
    d->final = r.final;
    *out = reinterpret_cast<DirHandle>(d);
    return 0;
  } catch (...) {
    return -1;
  }
}

int win_close_directory(DirHandle dir) {
  if (dir == kNoDir) return -1;
  delete dir_of(dir);
  return 0;
}

// GetFileAttributesA reports a link's own attributes, without following it.
int64_t win_attributes_at(DirHandle dir, const char* name) {
  if (dir == kNoDir) return -1;
  int64_t a = win_get_attributes(joined(dir_of(dir)->path, name).c_str());
  return a < 0 ? a : a & (kAttrReadOnly | kAttrDirectory);
}

int win_set_attributes_at(DirHandle dir, const char* name, uint32_t attributes) {
  if (dir == kNoDir) return -1;
  return win_set_attributes(joined(dir_of(dir)->path, name).c_str(), attributes);
}

// CREATE_NEW fails when anything, a link included, already has the name.
FileHandle win_create_temp_at(DirHandle dir, const char* prefix, char* name, uint32_t size) {
  if (dir == kNoDir || size == 0) return kNoFile;
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned int a = 0, b = 0;
    if (rand_s(&a) != 0 || rand_s(&b) != 0) return kNoFile;
    int n = std::snprintf(name, size, "%s%08x%08x.tmp", prefix, a, b);
    if (n < 0 || static_cast<uint32_t>(n) >= size) return kNoFile;
    HANDLE h = ::CreateFileA(joined(dir_of(dir)->path, name).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return file_of(h);
    DWORD e = ::GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) break;
  }
  name[0] = 0;
  return kNoFile;
}

// CREATE_NEW fails when anything, a link included, already has the name.
int win_create_new_at(DirHandle dir, const char* name, FileHandle* out) {
  *out = kNoFile;
  if (dir == kNoDir) return -1;
  HANDLE h = ::CreateFileA(joined(dir_of(dir)->path, name).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    *out = file_of(h);
    return 0;
  }
  DWORD e = ::GetLastError();
  return (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) ? 1 : -1;
}

int win_rename_at(DirHandle dir, const char* from, const char* to) {
  if (dir == kNoDir) return -1;
  const std::string& d = dir_of(dir)->path;
  return ::MoveFileExA(joined(d, from).c_str(), joined(d, to).c_str(), MOVEFILE_REPLACE_EXISTING)
             ? 0
             : -1;
}

int win_remove_at(DirHandle dir, const char* name) {
  if (dir == kNoDir) return -1;
  return win_remove(joined(dir_of(dir)->path, name).c_str());
}

// An offset in the OVERLAPPED record reads there on a synchronous handle
// (and leaves the file position behind the bytes read).
int32_t win_read_at(FileHandle f, uint64_t offset, void* buffer, uint32_t n) {
  if (f == kNoFile) return -1;
  if (n > 0x7fffffffu) n = 0x7fffffffu;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!::ReadFile(handle_of(f), buffer, n, &got, &at))
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return static_cast<int32_t>(got);
}

FileHandle win_open_read_length(const char* path, int64_t* length) {
  FileHandle f = win_open_read(path);
  int64_t n = win_length(f);
  if (f == kNoFile || n < 0) {
    if (f != kNoFile) win_close(f);
    return kNoFile;
  }
  *length = n;
  return f;
}

// Directories are held by path here, so there is no identity to compare:
// a directory is always found again by its path.
int win_identity(const char* path, FileIdentity* id) {
  int64_t a = win_get_attributes(path);
  if (a < 0) return -1;
  *id = FileIdentity{};
  id->directory = (a & kAttrDirectory) ? 1 : 0;
  return 0;
}

int win_directory_identity(DirHandle dir, FileIdentity* id) {
  if (dir == kNoDir) return -1;
  *id = FileIdentity{};
  return 0;
}

// Attributes are set by name once the file is closed and in place.
int win_set_attributes_open(FileHandle, uint32_t) {
  return 1;
}

const FileOps kWinFileOps = {
    win_open_read,
    win_create_rw,
    win_read,
    win_write,
    win_seek,
    win_length,
    win_close,
    win_get_attributes,
    win_set_attributes,
    win_remove,
    win_make_directory,
    win_rename_replace,
    win_set_dos_time,
    win_fail_critical_errors,
    win_open_directory,
    win_open_beneath,
    win_close_directory,
    win_attributes_at,
    win_set_attributes_at,
    win_create_temp_at,
    win_rename_at,
    win_remove_at,
    win_create_new,
    win_read_at,
    win_open_read_length,
    win_identity,
    win_directory_identity,
    win_create_new_at,
    win_set_attributes_open,
};

}  // namespace

const FileOps& native_file_ops() {
  return kWinFileOps;
}

}  // namespace rz::plat
