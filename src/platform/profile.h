// Profile (INI) files of the platform seam, with the behaviour of the
// Windows profile calls of the same names.
#pragma once

#include <cstdint>

namespace rz::plat {

// GetPrivateProfileStringA: copies the value (or deflt when absent) into out,
// cut to size - 1 characters and terminated; returns the characters copied.
uint32_t profile_get_string(const char* section, const char* key, const char* deflt, char* out,
                            uint32_t size, const char* file);

// GetPrivateProfileIntA: the value's leading decimal number, or deflt.
uint32_t profile_get_int(const char* section, const char* key, int32_t deflt, const char* file);

// WritePrivateProfileStringA: creates the file and the section when missing,
// keeps everything else; the file is replaced atomically.  Returns 1 on
// success, 0 on failure.
int profile_write_string(const char* section, const char* key, const char* value, const char* file);

}  // namespace rz::plat
