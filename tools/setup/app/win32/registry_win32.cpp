// The system registry on Windows, used directly for what the library's
// exports lack: a typed read of a value before it is changed, and putting
// back or deleting it exactly.  Values are kept as the registry's raw bytes
// (UTF-16LE for texts), so a restored value is the old one byte for byte.
#include <windows.h>

#include <cstring>

#include "../install.h"
#include "../registry.h"
#include "raziza3z.h"
#include "win_text.h"

namespace setup {

namespace {

HKEY root_key(int32_t root) {
  switch (root) {
    case RZ_ROOT_CLASSES_ROOT:
      return HKEY_CLASSES_ROOT;
    case RZ_ROOT_CURRENT_USER:
      return HKEY_CURRENT_USER;
    case RZ_ROOT_LOCAL_MACHINE:
      return HKEY_LOCAL_MACHINE;
    case RZ_ROOT_USERS:
      return HKEY_USERS;
    case RZ_ROOT_CURRENT_CONFIG:
      return HKEY_CURRENT_CONFIG;
    default:
      return nullptr;
  }
}

// Opens root\key: ERROR_SUCCESS, or the registry's error.
LONG open_key(int32_t root, const std::string& key, REGSAM access, HKEY* out) {
  HKEY r = root_key(root);
  if (!r) return ERROR_INVALID_PARAMETER;
  return RegOpenKeyExW(r, wide(key).c_str(), 0, access, out);
}

}  // namespace

int reg_read(int32_t root, const std::string& key, const std::string& name, RegValue* out) {
  *out = RegValue{};
  HKEY k;
  LONG e = open_key(root, key, KEY_QUERY_VALUE, &k);
  if (e == ERROR_FILE_NOT_FOUND) return 0;
  if (e != ERROR_SUCCESS) return -1;
  std::wstring wname = wide(name);
  DWORD type = 0, size = 0;
  e = RegQueryValueExW(k, wname.c_str(), nullptr, &type, nullptr, &size);
  std::string data(size, '\0');
  for (int tries = 0; e == ERROR_SUCCESS && tries < 4; ++tries) {
    data.resize(size);
    e = RegQueryValueExW(k, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size);
    if (e != ERROR_MORE_DATA) break;
    e = ERROR_SUCCESS;  // it grew meanwhile: read again with the new size
  }
  RegCloseKey(k);
  if (e == ERROR_FILE_NOT_FOUND) return 0;
  if (e != ERROR_SUCCESS) return -1;
  data.resize(size);
  out->present = true;
  out->type = type;
  out->data = data;
  return 0;
}

int reg_restore(int32_t root, const std::string& key, const std::string& name,
                const RegValue& value) {
  HKEY k;
  if (!value.present) {
    LONG e = open_key(root, key, KEY_SET_VALUE, &k);
    if (e == ERROR_FILE_NOT_FOUND) return 0;
    if (e != ERROR_SUCCESS) return -1;
    e = RegDeleteValueW(k, wide(name).c_str());
    RegCloseKey(k);
    return e == ERROR_SUCCESS || e == ERROR_FILE_NOT_FOUND ? 0 : -1;
  }
  HKEY r = root_key(root);
  if (!r || RegCreateKeyExW(r, wide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                            nullptr) != ERROR_SUCCESS)
    return -1;
  LONG e = RegSetValueExW(k, wide(name).c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(value.data.data()),
                          static_cast<DWORD>(value.data.size()));
  RegCloseKey(k);
  return e == ERROR_SUCCESS ? 0 : -1;
}

int reg_key_exists(int32_t root, const std::string& key) {
  HKEY k;
  if (open_key(root, key, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return 0;
  RegCloseKey(k);
  return 1;
}

int reg_delete_key_if_empty(int32_t root, const std::string& key) {
  HKEY k;
  LONG e = open_key(root, key, KEY_QUERY_VALUE, &k);
  if (e == ERROR_FILE_NOT_FOUND) return 0;
  if (e != ERROR_SUCCESS) return -1;
  DWORD subkeys = 0, values = 0;
  e = RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr);
  RegCloseKey(k);
  if (e != ERROR_SUCCESS) return -1;
  if (subkeys || values) return 1;
  e = RegDeleteKeyW(root_key(root), wide(key).c_str());
  return e == ERROR_SUCCESS || e == ERROR_FILE_NOT_FOUND ? 0 : -1;
}

std::string reg_text(const std::string& text) {
  std::wstring w = wide(text);
  std::string bytes(reinterpret_cast<const char*>(w.c_str()), (w.size() + 1) * sizeof(wchar_t));
  return bytes;
}

std::string reg_text_of(const RegValue& value) {
  std::wstring w(value.data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(w.data(), value.data.data(), w.size() * sizeof(wchar_t));
  return utf8(w.c_str());
}

void reg_installed_products(int32_t root, std::vector<std::string>* products) {
  HKEY k;
  if (open_key(root, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
               KEY_ENUMERATE_SUB_KEYS, &k) != ERROR_SUCCESS)
    return;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = 256;
    LONG e = RegEnumKeyExW(k, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (e != ERROR_SUCCESS) break;
    // Only this program's entries: they carry its record.
    std::string product = utf8(std::wstring(name, len));
    RegValue location;
    if (reg_read(root, uninstall_key(product), "InstallLocation", &location) == 0 &&
        location.present) {
      std::string dir = reg_text_of(location);
      if (GetFileAttributesW(wide(dir + "\\.qg-setup\\record").c_str()) != INVALID_FILE_ATTRIBUTES)
        products->push_back(product);
    }
  }
  RegCloseKey(k);
}

std::string reg_store_path() {
  return "";  // the system's registry, no store file
}

void reg_use_store(const std::string&) {}

bool reg_store_failed() {
  // Each of this program's own writes reports its failure where it is
  // made; the system registry has no store-wide status.
  return false;
}

}  // namespace setup
