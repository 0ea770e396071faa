// Files that the host opened and hands to the library by number (the install
// log): on Windows a file handle, on POSIX a file descriptor.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace rz::plat {

// The seam's handle for the host's file number; kNoFile when it names none.
// The host keeps the file: the library neither closes nor checks it.
FileHandle file_from_host(int32_t host_file);

}  // namespace rz::plat
