// The install log on Windows: the host hands over a file handle as a 32-bit
// number (what _lopen or CreateFileA returned).  Kernel handles keep their
// value within 32 bits on 64-bit Windows as well, so the number widens back
// to the handle.
#include "platform/hostfile.h"

namespace rz::plat {

FileHandle file_from_host(int32_t host_file) {
  // 0 and -1 (HFILE_ERROR, INVALID_HANDLE_VALUE) name no file.
  if (host_file == 0 || host_file == -1) return kNoFile;
  return static_cast<FileHandle>(host_file);
}

}  // namespace rz::plat
