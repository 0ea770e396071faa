// Profile (INI) files on Windows: the KERNEL32 profile calls themselves.
// A file name without a folder is looked up in the Windows folder, as the
// calls do; the library's callers pass full paths.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/profile.h"

namespace rz::plat {

uint32_t profile_get_string(const char* section, const char* key, const char* deflt, char* out,
                            uint32_t size, const char* file) {
  if (!out || size == 0) return 0;
  return ::GetPrivateProfileStringA(section, key, deflt ? deflt : "", out, size, file);
}

uint32_t profile_get_int(const char* section, const char* key, int32_t deflt, const char* file) {
  if (!section || !key) return static_cast<uint32_t>(deflt);
  return ::GetPrivateProfileIntA(section, key, deflt, file);
}

int profile_write_string(const char* section, const char* key, const char* value,
                         const char* file) {
  if (!section || !file || !*file) return 0;
  return ::WritePrivateProfileStringA(section, key, value, file) ? 1 : 0;
}

}  // namespace rz::plat
