// The registry on Windows: the ADVAPI32 calls over the predefined keys of
// the library's root codes 1-5.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/registry.h"

namespace rz::plat {

namespace {

HKEY root_key(int32_t root) {
  switch (root) {
    case 1:
      return HKEY_CLASSES_ROOT;
    case 2:
      return HKEY_CURRENT_USER;
    case 3:
      return HKEY_LOCAL_MACHINE;
    case 4:
      return HKEY_USERS;
    case 5:
      return HKEY_CURRENT_CONFIG;
    default:
      return nullptr;
  }
}

HKEY hkey_of(RegKey key) {
  return reinterpret_cast<HKEY>(key);
}

int32_t win_open_key(int32_t root, const char* path, RegKey* key) {
  HKEY base = root_key(root);
  if (!base) return kRegBadKey;
  HKEY opened = nullptr;
  LONG rc = ::RegOpenKeyExA(base, path ? path : "", 0, KEY_READ, &opened);
  if (rc != ERROR_SUCCESS) return static_cast<int32_t>(rc);
  *key = reinterpret_cast<RegKey>(opened);
  return kRegOk;
}

int32_t win_create_key(int32_t root, const char* path, RegKey* key) {
  HKEY base = root_key(root);
  if (!base) return kRegBadKey;
  HKEY made = nullptr;
  LONG rc = ::RegCreateKeyExA(base, path ? path : "", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &made, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<int32_t>(rc);
  *key = reinterpret_cast<RegKey>(made);
  return kRegOk;
}

// RegQueryValueExA leaves the buffer undefined when it is too small; the
// size is asked first so that a short buffer is never written.
int32_t win_query_value(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  if (key == kNoKey) return kRegBadKey;
  DWORD kind = 0, need = 0;
  LONG rc = ::RegQueryValueExA(hkey_of(key), name, nullptr, &kind, nullptr, &need);
  if (rc != ERROR_SUCCESS) return static_cast<int32_t>(rc);
  if (type) *type = kind;
  if (!data || !size) {
    if (size) *size = need;
    return kRegOk;
  }
  if (need > *size) {
    *size = need;
    return kRegMoreData;
  }
  DWORD got = *size;
  rc = ::RegQueryValueExA(hkey_of(key), name, nullptr, &kind, static_cast<BYTE*>(data), &got);
  if (rc != ERROR_SUCCESS) return static_cast<int32_t>(rc);
  if (type) *type = kind;
  *size = got;
  return kRegOk;
}

int32_t win_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                      uint32_t size) {
  if (key == kNoKey) return kRegBadKey;
  return static_cast<int32_t>(
      ::RegSetValueExA(hkey_of(key), name, 0, type, static_cast<const BYTE*>(data), size));
}

int32_t win_close_key(RegKey key) {
  if (key == kNoKey) return kRegBadKey;
  return static_cast<int32_t>(::RegCloseKey(hkey_of(key)));
}

const RegistryOps kWinRegistryOps = {win_open_key, win_create_key, win_query_value, win_set_value,
                                     win_close_key};

}  // namespace

const RegistryOps& native_registry_ops() {
  return kWinRegistryOps;
}

// The registry store file belongs to the POSIX backend; Windows has the
// registry itself, so there is no file to name.
std::string registry_store_path() {
  return std::string();
}

void set_registry_store_path(const char*) {}

// Each change reaches the registry when it is made.
void reg_batch_begin() {}
int32_t reg_batch_end() {
  return kRegOk;
}

}  // namespace rz::plat
