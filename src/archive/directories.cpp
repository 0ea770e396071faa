// QEN_FILEEXISTS and QEN_CREATEPATH: whether a path names anything, and the
// creation of a directory with every missing directory above it.
#include <cstring>
#include <string>

#include "frame/messages.h"
#include "platform/file.h"
#include "raziza3z.h"

namespace rz {

namespace {

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

bool is_directory(const std::string& path) {
  plat::FileIdentity id;
  return plat::file_identity(path.c_str(), &id) == 0 && id.directory;
}

// The prefix of path that ends before the separator (or terminator) at
// index end.  A drive's separator stays with it ("C:\"), and the separator
// at the very start is the root, so that absolute paths walk from the top.
std::string prefix_before(const char* path, size_t end) {
  if (end == 2 && path[1] == ':' && path[2] != 0) return std::string(path, 3);
  if (end == 0) return std::string(path, 1);
  return std::string(path, end);
}

// Make every level of path a directory, from the top down.  Each prefix is
// tested and created as a path of its own: the process's current directory
// is never changed, so relative paths resolve as written and other threads
// are not disturbed.  Returns 0, or 7 after the error box for the first
// level that is neither a directory nor can be created (the levels made
// before it stay).
int32_t make_levels(const char* path) {
  for (size_t i = 0;; ++i) {
    char c = path[i];
    if (c == 0 || is_separator(c)) {
      std::string prefix = prefix_before(path, i);
      // Tested again after a failed create: another process may have made
      // the same level meanwhile.
      if (!is_directory(prefix) && plat::file_make_directory(prefix.c_str()) != 0 &&
          !is_directory(prefix)) {
        error_box(message_text(7), path, message_text(2));
        return 7;
      }
    }
    if (c == 0) return 0;
  }
}

}  // namespace

}  // namespace rz

extern "C" {

RZ_API int32_t RZ_CALL QEN_FILEEXISTS(const char* path) {
  if (!path) return 0;
  return rz::plat::file_exists(path) ? 1 : 0;
}

// One trailing separator is taken off the caller's text when the path is
// longer than 3 characters, so "C:\" keeps its backslash and "C:\A\"
// becomes "C:\A".  An empty path, or one that already names a file or a
// directory, gives 0 at once.
RZ_API int32_t RZ_CALL QEN_CREATEPATH(char* path) {
  if (!path) return 0;
  try {
    size_t length = std::strlen(path);
    if (length > 3 && rz::is_separator(path[length - 1])) path[--length] = 0;
    if (length == 0 || QEN_FILEEXISTS(path)) return 0;
    return rz::make_levels(path);
  } catch (...) {
    return 7;  // out of memory for a prefix
  }
}

}  // extern "C"
