// Directory-handle operations of the POSIX file layer (dir_posix.cpp), and
// the attribute mapping they share with the path-based ones.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "platform/file.h"

namespace rz::plat {

// The handle of a file descriptor (kNoFile for a negative one).
FileHandle handle_of_fd(int fd);

// The identity a stat result gives.
FileIdentity identity_of(const struct stat& st);

// The attribute word of an open file: read-only and directory from its mode,
// hidden, system and archive from its extended attribute.
uint32_t attributes_of_fd(int fd, const struct stat& st);
// Applies an attribute word to an open file; 0 or -1.
int set_attributes_fd(int fd, uint32_t attributes);

DirHandle posix_open_directory(const char* path);
int posix_open_beneath(DirHandle root, const char* relative, int create, DirHandle* out);
int posix_close_directory(DirHandle dir);
int64_t posix_attributes_at(DirHandle dir, const char* name);
int posix_set_attributes_at(DirHandle dir, const char* name, uint32_t attributes);
FileHandle posix_create_temp_at(DirHandle dir, const char* prefix, char* name, uint32_t size);
int posix_rename_at(DirHandle dir, const char* from, const char* to);
int posix_remove_at(DirHandle dir, const char* name);
int posix_directory_identity(DirHandle dir, FileIdentity* id);
int posix_create_new_at(DirHandle dir, const char* name, FileHandle* out);

}  // namespace rz::plat
