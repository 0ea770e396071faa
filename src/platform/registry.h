// The registry of the platform seam: the five operations the script services
// need, with the results of the Windows calls of the same meaning.
//
// Roots are the library's root codes 1-5 (classes root, current user, local
// machine, users, current config); any other code names no key.  Results are
// Windows error numbers: 0 success, kRegNotFound, kRegMoreData and so on.
// On POSIX the registry is a text store in the registry editor's REGEDIT4
// export format (registry_posix.cpp describes it).  Tests replace the table
// to log calls or make one fail.
#pragma once

#include <cstdint>
#include <string>

namespace rz::plat {

using RegKey = std::intptr_t;
constexpr RegKey kNoKey = 0;

// Value types, as the registry numbers them.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

// Result codes (Windows error numbers).
constexpr int32_t kRegOk = 0;
constexpr int32_t kRegNotFound = 2;        // ERROR_FILE_NOT_FOUND
constexpr int32_t kRegAccessDenied = 5;    // ERROR_ACCESS_DENIED
constexpr int32_t kRegBadKey = 6;          // ERROR_INVALID_HANDLE
constexpr int32_t kRegInvalid = 87;        // ERROR_INVALID_PARAMETER
constexpr int32_t kRegMoreData = 234;      // ERROR_MORE_DATA
constexpr int32_t kRegBadStore = 1009;     // ERROR_BADDB: the store cannot be read
constexpr int32_t kRegWriteFailed = 1013;  // ERROR_CANTWRITE

struct RegistryOps {
  // RegOpenKeyExA for querying: the key must exist.
  int32_t (*open_key)(int32_t root, const char* path, RegKey* key);
  // RegCreateKeyExA for writing: creates the key and every missing key above.
  int32_t (*create_key)(int32_t root, const char* path, RegKey* key);
  // RegQueryValueExA: data may be null to learn type and size; when *size is
  // too small, kRegMoreData with *size set to the size needed and nothing
  // written to data.  name null or "" is the key's default value.
  int32_t (*query_value)(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size);
  // RegSetValueExA.
  int32_t (*set_value)(RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size);
  // RegCloseKey.
  int32_t (*close_key)(RegKey key);
};

const RegistryOps& registry_ops();
const RegistryOps& native_registry_ops();
// Install a table (tests); nullptr restores the native one.
void set_registry_ops(const RegistryOps* ops);

inline int32_t reg_open_key(int32_t root, const char* path, RegKey* key) {
  return registry_ops().open_key(root, path, key);
}
inline int32_t reg_create_key(int32_t root, const char* path, RegKey* key) {
  return registry_ops().create_key(root, path, key);
}
inline int32_t reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                               uint32_t* size) {
  return registry_ops().query_value(key, name, type, data, size);
}
inline int32_t reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                             uint32_t size) {
  return registry_ops().set_value(key, name, type, data, size);
}
inline int32_t reg_close_key(RegKey key) {
  return registry_ops().close_key(key);
}

// Gathers the changes that follow, up to the matching reg_batch_end, into
// one commit of the store (one WRITEREG call): on POSIX the store's lock is
// taken at the first change and held, and the file is replaced once at the
// end.  Reads in between see the batch's changes.  Batches nest; the
// outermost end commits.  reg_batch_end returns 0, or kRegWriteFailed when
// the commit failed (then none of the batch's changes landed).  On Windows
// each change goes to the registry at once and these do nothing.
void reg_batch_begin();
int32_t reg_batch_end();

// The file of the POSIX store: the host's choice, else the environment
// variable RAZIZA3Z_REGISTRY, else $XDG_DATA_HOME/raziza3z/registry.reg
// (XDG_DATA_HOME defaulting to $HOME/.local/share).  Empty when none can be
// formed.
std::string registry_store_path();
// The host's choice; "" returns to the environment and the default.
void set_registry_store_path(const char* path);

}  // namespace rz::plat
