// Path conversion for the POSIX backend.
#pragma once

#include <string>

namespace rz::plat {

// A path as the library received it, with backslashes turned into slashes.
std::string native_path(const char* path);

}  // namespace rz::plat
