// Shell services on POSIX.  There is no link object to create and no shell
// to notify of a new folder; shortcuts and type libraries are made by the
// backend itself (shelllink_posix.cpp, typelib_posix.cpp).
#include "platform/posix/shelllink_posix.h"
#include "platform/shell.h"

namespace rz::plat {

namespace {

int32_t posix_link_begin() {
  return 0;
}
void posix_link_end() {}
void posix_folder_created(const char*) {}

const ShellOps kPosixOps = {posix_link_begin, save_shell_link, posix_link_end, posix_folder_created,
                            register_type_library_posix};

}  // namespace

const ShellOps& native_shell_ops() {
  return kPosixOps;
}

}  // namespace rz::plat
