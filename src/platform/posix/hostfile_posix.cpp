#include "platform/hostfile.h"

namespace rz::plat {

// The POSIX file layer numbers its handles as the descriptor plus one, so
// that 0 stays "no file" while descriptor 0 is valid.
FileHandle file_from_host(int32_t host_file) {
  return host_file < 0 ? kNoFile : static_cast<FileHandle>(host_file) + 1;
}

}  // namespace rz::plat
