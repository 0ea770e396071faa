#include "platform/posix/path_posix.h"

namespace rz::plat {

std::string native_path(const char* path) {
  std::string p = path ? path : "";
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

}  // namespace rz::plat
