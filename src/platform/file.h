// File operations of the platform seam.
//
// The core reaches the file system only through the active FileOps table.
// Tests replace the table (set_file_ops) to log calls or make the Nth call
// fail.  Paths arrive in Windows syntax or native syntax; on POSIX a
// backslash separates components like a slash.
#pragma once

#include <cstdint>

namespace rz::plat {

// An open file; 0 means none.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = 0;

// An open directory; 0 means none.
using DirHandle = std::intptr_t;
constexpr DirHandle kNoDir = 0;

// open_beneath: a link or ".." would lead out of the root.
constexpr int kDirEscapes = -2;

enum class SeekFrom { begin, current, end };

// What a path names, as far as the platform can tell: whether it is a
// directory, and an identity (device and file number) that stays with the
// file or directory itself, whatever it is called.  `known` is 0 where the
// platform has no such identity; two identities are the same file only when
// both are known and equal.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t number = 0;
  int directory = 0;
  int known = 0;
};

inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.number == b.number;
}

// Windows attribute bits, as stored in archives.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;

struct FileOps {
  // Open an existing file for reading, binary.  Returns kNoFile on failure.
  FileHandle (*open_read)(const char* path);
  // Create or truncate a file for reading and writing, binary, not read-only.
  FileHandle (*create_rw)(const char* path);
  // Read up to n bytes: the count read, 0 at the end, -1 on failure.
  int32_t (*read)(FileHandle file, void* buffer, uint32_t n);
  // Write n bytes: the count written, -1 on failure.
  int32_t (*write)(FileHandle file, const void* buffer, uint32_t n);
  // Move the file position; returns the new position or -1 (position kept).
  int64_t (*seek)(FileHandle file, int64_t offset, SeekFrom from);
  // Length of an open file in bytes, or -1.
  int64_t (*length)(FileHandle file);
  // Close; returns 0 or -1.
  int (*close)(FileHandle file);
  // Attribute word of a path (kAttr* bits), or -1 when the path names nothing.
  int64_t (*get_attributes)(const char* path);
  // Set the attribute word of a path; 0 or -1.
  int (*set_attributes)(const char* path, uint32_t attributes);
  // Delete a file; fails (-1) for a read-only file, as on Windows.
  int (*remove)(const char* path);
  // Create one directory; 0 or -1.
  int (*make_directory)(const char* path);
  // Rename a file, replacing the target if it exists; 0 or -1.
  int (*rename_replace)(const char* from, const char* to);
  // Set the last-write time of an open file from an MS-DOS date and time read
  // as local time; 0 or -1.
  int (*set_dos_time)(FileHandle file, uint16_t dos_date, uint16_t dos_time);
  // Switch off the system's critical-error boxes (no effect where none exist).
  void (*fail_critical_errors)();

  // Extraction works below a directory the host chose (the root), by
  // directory handle from the root down, so that a link planted in the tree
  // cannot send a file elsewhere.
  //
  // Open the directory at path; a link in the path itself is followed (the
  // host named it).  kNoDir on failure.
  DirHandle (*open_directory)(const char* path);
  // Walk `relative` (components separated by \ or /; empty and "."
  // components are skipped) down from root.  Every level must be a real
  // directory, or a link that resolves inside root; ".." steps back up but
  // never above root.  Missing levels are made when `create` is set.
  // Returns 0 with *out, kDirEscapes when a link or ".." leads out of root,
  // or -1 (a level missing, not a directory, or not made).
  int (*open_beneath)(DirHandle root, const char* relative, int create, DirHandle* out);
  // Close a directory handle; 0 or -1.
  int (*close_directory)(DirHandle dir);
  // The read-only and directory bits of `name` in dir (what decides whether
  // it can be replaced; other bits are not looked up), or -1 when nothing
  // has that name.  A link is not followed: it counts as a plain file.
  int64_t (*attributes_at)(DirHandle dir, const char* name);
  // Set the attribute word of the file `name` in dir, never through a link.
  int (*set_attributes_at)(DirHandle dir, const char* name, uint32_t attributes);
  // Create a new file in dir, opened for reading and writing: its name is
  // `prefix` followed by random hex digits and ".tmp", it is created only if
  // nothing has that name (never through a link), and the name goes to
  // name[size].  kNoFile on failure.
  FileHandle (*create_temp_at)(DirHandle dir, const char* prefix, char* name, uint32_t size);
  // Rename `from` to `to` inside dir, replacing `to` (a link there is
  // replaced, not followed); 0 or -1.
  int (*rename_at)(DirHandle dir, const char* from, const char* to);
  // Delete the file `name` in dir; 0 or -1.
  int (*remove_at)(DirHandle dir, const char* name);
  // Create a new file for reading and writing, binary; fails (kNoFile) when
  // anything, a link included, already has that name.
  FileHandle (*create_new)(const char* path);

  // Read up to n bytes at `offset` from the start: the count read, 0 at the
  // end, -1 on failure.  The file position afterwards is unspecified: a
  // caller that reads on with `read` seeks first.
  int32_t (*read_at)(FileHandle file, uint64_t offset, void* buffer, uint32_t n);
  // open_read that also gives the file's length in bytes, from the same
  // look at the file.  kNoFile on failure (*length is then untouched).
  FileHandle (*open_read_length)(const char* path, int64_t* length);
  // What `path` names: 0 with *id filled, or -1 when it names nothing.  A
  // link in the path is followed.
  int (*identity)(const char* path, FileIdentity* id);
  // The identity of an open directory; 0 or -1.
  int (*directory_identity)(DirHandle dir, FileIdentity* id);
  // Create `name` in dir as a new file opened for reading and writing, only
  // if nothing has that name (never through a link).  Returns 0 with *out,
  // 1 when something (a link included) already has the name, -1 when the
  // file cannot be made.
  int (*create_new_at)(DirHandle dir, const char* name, FileHandle* out);
  // Apply an attribute word to a file this process created and still holds
  // open, once its data and time are written: 0, -1 on failure, or 1 when
  // the platform sets attributes only by name (the caller then uses
  // set_attributes_at once the file is closed and in place).
  int (*set_attributes_open)(FileHandle file, uint32_t attributes);
};

// The table in use, and the platform's own.
const FileOps& file_ops();
const FileOps& native_file_ops();
// Install a table (tests); nullptr restores the native one.
void set_file_ops(const FileOps* ops);

inline FileHandle file_open_read(const char* path) {
  return file_ops().open_read(path);
}
inline FileHandle file_create_rw(const char* path) {
  return file_ops().create_rw(path);
}
inline FileHandle file_create_new(const char* path) {
  return file_ops().create_new(path);
}
inline int32_t file_read(FileHandle f, void* b, uint32_t n) {
  return file_ops().read(f, b, n);
}
inline int32_t file_write(FileHandle f, const void* b, uint32_t n) {
  return file_ops().write(f, b, n);
}
inline int64_t file_seek(FileHandle f, int64_t off, SeekFrom from) {
  return file_ops().seek(f, off, from);
}
inline int64_t file_length(FileHandle f) {
  return file_ops().length(f);
}
inline int file_close(FileHandle f) {
  return file_ops().close(f);
}
inline int64_t file_get_attributes(const char* p) {
  return file_ops().get_attributes(p);
}
inline int file_set_attributes(const char* p, uint32_t a) {
  return file_ops().set_attributes(p, a);
}
inline bool file_exists(const char* path) {
  FileIdentity id;
  return file_ops().identity(path, &id) == 0;
}
inline int file_identity(const char* path, FileIdentity* id) {
  return file_ops().identity(path, id);
}
inline int32_t file_read_at(FileHandle f, uint64_t offset, void* b, uint32_t n) {
  return file_ops().read_at(f, offset, b, n);
}
inline FileHandle file_open_read_length(const char* path, int64_t* length) {
  return file_ops().open_read_length(path, length);
}
inline int file_set_attributes_open(FileHandle f, uint32_t attributes) {
  return file_ops().set_attributes_open(f, attributes);
}
inline int file_remove(const char* path) {
  return file_ops().remove(path);
}
inline int file_make_directory(const char* path) {
  return file_ops().make_directory(path);
}
inline int file_rename_replace(const char* from, const char* to) {
  return file_ops().rename_replace(from, to);
}
inline int file_set_dos_time(FileHandle f, uint16_t date, uint16_t time) {
  return file_ops().set_dos_time(f, date, time);
}

inline DirHandle dir_open(const char* path) {
  return file_ops().open_directory(path);
}
inline int dir_open_beneath(DirHandle root, const char* relative, int create, DirHandle* out) {
  return file_ops().open_beneath(root, relative, create, out);
}
inline int dir_close(DirHandle dir) {
  return file_ops().close_directory(dir);
}
inline int64_t dir_attributes(DirHandle dir, const char* name) {
  return file_ops().attributes_at(dir, name);
}
inline int dir_set_attributes(DirHandle dir, const char* name, uint32_t attributes) {
  return file_ops().set_attributes_at(dir, name, attributes);
}
inline FileHandle dir_create_temp(DirHandle dir, const char* prefix, char* name, uint32_t size) {
  return file_ops().create_temp_at(dir, prefix, name, size);
}
inline int dir_rename(DirHandle dir, const char* from, const char* to) {
  return file_ops().rename_at(dir, from, to);
}
inline int dir_remove(DirHandle dir, const char* name) {
  return file_ops().remove_at(dir, name);
}
inline int dir_identity(DirHandle dir, FileIdentity* id) {
  return file_ops().directory_identity(dir, id);
}
inline int dir_create_new(DirHandle dir, const char* name, FileHandle* out) {
  return file_ops().create_new_at(dir, name, out);
}

// Read exactly n bytes: 0 when all arrived, -1 otherwise.
int file_read_exact(FileHandle file, void* buffer, uint32_t n);

// Read up to n bytes at offset, going on after a short count until n bytes
// or the end: the count read (0 at the end or on failure).
uint32_t file_read_at_most(FileHandle file, uint64_t offset, void* buffer, uint32_t n);

}  // namespace rz::plat
