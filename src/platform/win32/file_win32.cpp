// Windows file operations over KERNEL32.  Handles are the file HANDLEs;
// INVALID_HANDLE_VALUE never leaves this file (it becomes kNoFile).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

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

const FileOps kWinFileOps = {
    win_open_read,      win_create_rw,
    win_read,           win_write,
    win_seek,           win_length,
    win_close,          win_get_attributes,
    win_set_attributes, win_remove,
    win_make_directory, win_rename_replace,
    win_set_dos_time,   win_fail_critical_errors,
    win_create_new,
};

}  // namespace

const FileOps& native_file_ops() {
  return kWinFileOps;
}

}  // namespace rz::plat
