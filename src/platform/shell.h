// Shell services of the platform seam: shortcut files, the folder
// notification and type-library registration.  Tests replace the table to
// log calls or make one fail.
#pragma once

#include <cstdint>

namespace rz::plat {

// The fields of a shortcut, as the shell's link object takes them.
struct ShellLink {
  const char* target = "";
  const char* working_dir = "";
  const char* icon_path = "";
  int32_t icon_index = 0;
  const char* arguments = "";
  bool has_hot_key = false;
  uint16_t hot_key = 0;  // low byte the key code, high byte the modifiers
};

// Hot-key modifier bits.
constexpr uint16_t kHotKeyShift = 0x01;
constexpr uint16_t kHotKeyControl = 0x02;
constexpr uint16_t kHotKeyAlt = 0x04;

// HRESULTs of type-library registration.
constexpr int32_t kTypeLibCantLoad = static_cast<int32_t>(0x80029C4A);  // TYPE_E_CANTLOADLIBRARY
constexpr int32_t kTypeLibRegistryAccess =
    static_cast<int32_t>(0x8002801C);  // TYPE_E_REGISTRYACCESS
constexpr int32_t kFileNotFound =
    static_cast<int32_t>(0x80070002);  // HRESULT of ERROR_FILE_NOT_FOUND
constexpr int32_t kPathTooLong = static_cast<int32_t>(0x800700CE);  // ERROR_FILENAME_EXCED_RANGE

struct ShellOps {
  // Prepare a link object: 0 when a shortcut can be made.
  int32_t (*link_begin)();
  // Save the shortcut to link_path: 0 or a failure code.  On POSIX a path
  // ending in ".desktop" gets a desktop entry, any other a Shell Link file.
  int32_t (*link_save)(const ShellLink& link, const char* link_path);
  // End what link_begin began (also after a failed save).
  void (*link_end)();
  // Tell the shell that the folder path was made.
  void (*folder_created)(const char* path);
  // Load the type library at path and register it: 0 or the HRESULT.
  int32_t (*register_type_library)(const char* path);
};

const ShellOps& shell_ops();
const ShellOps& native_shell_ops();
// Install a table (tests); nullptr restores the native one.
void set_shell_ops(const ShellOps* ops);

}  // namespace rz::plat
