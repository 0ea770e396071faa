// CREATELINK, CREATEFOLDER and REGTLB.
#include <cstring>

#include "platform/file.h"
#include "platform/shell.h"
#include "raziza3z.h"
#include "script/macro.h"

namespace rz::script {

namespace {

// Substitutes each text just before it goes into the link, in the order
// target, icon, working directory, arguments; the link path is used as
// given.  When no link can be made only the target has been substituted.
void create_link(char* target, const char* link_path, char* working_dir, char* icon_path,
                 int32_t icon_index, char* arguments, uint32_t hot_key) {
  const plat::ShellOps& shell = plat::shell_ops();
  if (target) convert_macro(target, kMacroPasses);
  if (shell.link_begin() != 0) return;
  plat::ShellLink link;
  link.target = target ? target : "";
  if (hot_key != 0) {
    link.has_hot_key = true;
    link.hot_key =
        static_cast<uint16_t>((hot_key & 0xff) | (plat::kHotKeyShift | plat::kHotKeyControl) << 8);
  }
  if (icon_path) convert_macro(icon_path, kMacroPasses);
  link.icon_path = icon_path ? icon_path : "";
  link.icon_index = icon_index;
  if (working_dir) convert_macro(working_dir, kMacroPasses);
  link.working_dir = working_dir ? working_dir : "";
  if (arguments) convert_macro(arguments, kMacroPasses);
  link.arguments = arguments ? arguments : "";
  if (link_path) shell.link_save(link, link_path);
  shell.link_end();
}

// The library's paths are at most 259 characters (a 260-character buffer
// of the type-library loader with its terminator).  A longer path is refused
// rather than cut, since a cut path would name another file.
int32_t register_type_library(const char* path) {
  if (!path) return plat::kFileNotFound;
  if (std::strlen(path) >= 260) return plat::kPathTooLong;
  return plat::shell_ops().register_type_library(path);
}

}  // namespace

}  // namespace rz::script

extern "C" {

RZ_API int32_t RZ_CALL CREATELINK(char* target, const char* link_path, char* working_dir,
                                  char* icon_path, int32_t icon_index, char* arguments,
                                  uint32_t hot_key) {
  try {
    rz::script::create_link(target, link_path, working_dir, icon_path, icon_index, arguments,
                            hot_key);
  } catch (...) {
  }
  return 0;
}

RZ_API int32_t RZ_CALL CREATEFOLDER(const char* path) {
  try {
    if (path) {
      rz::plat::file_make_directory(path);
      rz::plat::shell_ops().folder_created(path);
    }
  } catch (...) {
  }
  return 1;
}

RZ_API int32_t RZ_CALL REGTLB(const char* path) {
  try {
    return rz::script::register_type_library(path);
  } catch (...) {
    return rz::plat::kTypeLibCantLoad;
  }
}

}  // extern "C"
